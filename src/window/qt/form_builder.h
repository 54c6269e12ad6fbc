#pragma once

#include <QFont>
#include <QHash>
#include <QRect>

#include "window/forms.h"

class QDialog;
class QWidget;

namespace kelvo {

// Pixels per dialog unit, from a font: across, a quarter of its average character width; down,
// an eighth of its height. Forms keep their proportions with any font and screen.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int ToPixelsX(int units) const;
  int ToPixelsY(int units) const;
  QRect ToPixels(const forms::DialogRect& rect) const;

 private:
  int char_width_;
  int char_height_;
};

// Gives the dialog the form's caption, fixed size and frame (title bar with a close box, no
// minimise or maximise box) and creates its controls in table order, which is their Tab order.
// The control with id 1 is the dialog's OK: Enter clicks it and clicking it accepts the dialog.
// Returns the controls by id.
QHash<int, QWidget*> BuildForm(QDialog& dialog, const forms::Form& form);

}  // namespace kelvo
