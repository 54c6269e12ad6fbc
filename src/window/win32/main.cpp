#include <windows.h>

#include "window/win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  kelvo::RunMainWindow(instance);
  // The process ends here even while a transfer's worker still runs.
  ::ExitProcess(0);
}
