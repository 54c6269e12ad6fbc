#pragma once

#include <QDialog>

namespace kelvo {

// The About box: the program's name and version and the maker's lines. OK, Enter, Esc and the
// close box close it.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* owner);
};

}  // namespace kelvo
