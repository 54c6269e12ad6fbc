#include "window/qt/loader_app.h"

#include "kelvo_version.h"
#include "window/qt/main_dialog.h"

namespace kelvo {
namespace {

// QApplication keeps a reference to its argument count, so the one-word command line it sees
// lives as long as the program.
int argument_count = 1;
char program_name[] = "kelvo";
char* command_line[] = {program_name, nullptr};

}  // namespace

LoaderApp::LoaderApp() : QApplication(argument_count, command_line) {
  setApplicationVersion(QString::fromLatin1(kVersion));
}

bool LoaderApp::InitInstance() {
  MainDialog window;
  window.exec();
  // A transfer still running goes on without the window; it ends with the process.
  return false;
}

}  // namespace kelvo
