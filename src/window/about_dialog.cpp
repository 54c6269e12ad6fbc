#include "window/about_dialog.h"

#include "forms.h"
#include "window/form_builder.h"

namespace kelvo {

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner) {
  BuildForm(*this, forms::kAboutForm);
}

}  // namespace kelvo
