#pragma once

#include <QApplication>

namespace kelvo {

// The application: it runs the main window modally and the program ends when the window closes.
// The program takes no command line (main answers --help and --version before it starts);
// whatever arguments it is given are ignored, Qt's own included.
class LoaderApp : public QApplication {
  Q_OBJECT

 public:
  LoaderApp();

  // Runs the main window until it closes. False: there is no event loop of the application's
  // own to run after it.
  bool InitInstance();
};

}  // namespace kelvo
