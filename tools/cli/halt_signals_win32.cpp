#include <windows.h>

#include "halt_signals.h"
#include "terminal.h"

namespace kelvo::cli {
namespace {

void (*handler)() = nullptr;

// Windows runs console control handlers on a thread of its own. Returning TRUE keeps the
// process alive; any other event (the console closing, log-off) goes on to the default.
BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  handler();
  return TRUE;
}

}  // namespace

const char kHaltSignalsText[] = "Ctrl-C or Ctrl-Break";

void CatchHaltSignals(void (*on_signal)()) {
  handler = on_signal;
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

void ReleaseHaltSignals() {
  ::SetConsoleCtrlHandler(OnControl, FALSE);
}

void EndAtOnce(int status) {
  RestoreTerminal();
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
  ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace kelvo::cli
