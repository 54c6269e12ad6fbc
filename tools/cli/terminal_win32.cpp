#include <io.h>
#include <windows.h>

#include <cstdlib>

#include "terminal.h"

namespace kelvo::cli {
namespace {

// What the run changed in the console, which outlives it, and so must get back.
UINT found_code_page = 0;
HANDLE live_console = nullptr;
DWORD found_mode = 0;

HANDLE HandleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

// Ctrl-C outside a transfer, or the console closing: the default handling then ends the
// process without running atexit.
BOOL WINAPI RestoreBeforeEnd(DWORD) {
  RestoreTerminal();
  return FALSE;
}

}  // namespace

// The log's bytes are in the ANSI code page, as the system's file names are; a console shows
// the OEM one unless told.
void PrepareTerminal() {
  found_code_page = ::GetConsoleOutputCP();
  if (found_code_page != 0) ::SetConsoleOutputCP(::GetACP());
  std::atexit(RestoreTerminal);
  ::SetConsoleCtrlHandler(RestoreBeforeEnd, TRUE);
}

void RestoreTerminal() {
  if (found_code_page != 0) ::SetConsoleOutputCP(found_code_page);
  if (live_console) ::SetConsoleMode(live_console, found_mode);
}

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(HandleOf(stream), &mode);
}

// A console older than Windows 10 refuses ANSI handling; it then gets the log alone.
bool IsLiveTerminal(std::FILE* stream) {
  const HANDLE console = HandleOf(stream);
  DWORD mode = 0;
  if (!::GetConsoleMode(console, &mode) ||
      !::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    return false;
  }
  live_console = console;
  found_mode = mode;
  return true;
}

std::size_t TerminalWidth(std::FILE* terminal) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(HandleOf(terminal), &info)) return 80;
  const int width = info.srWindow.Right - info.srWindow.Left + 1;
  return width > 0 ? static_cast<std::size_t>(width) : 80;
}

std::size_t TerminalHeight(std::FILE* terminal) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(HandleOf(terminal), &info)) return 24;
  const int height = info.srWindow.Bottom - info.srWindow.Top + 1;
  return height > 0 ? static_cast<std::size_t>(height) : 24;
}

}  // namespace kelvo::cli
