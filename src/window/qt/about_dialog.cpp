#include "window/qt/about_dialog.h"

#include "window/forms.h"
#include "window/qt/form_builder.h"

namespace kelvo {

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner) {
  BuildForm(*this, forms::kAboutForm);
}

}  // namespace kelvo
