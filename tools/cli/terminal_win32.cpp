#include <io.h>
#include <windows.h>

#include "terminal.h"

namespace kelvo::cli {
namespace {

HANDLE HandleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

}  // namespace

// A console older than Windows 10 refuses ANSI handling; it then gets the log alone.
bool IsLiveTerminal(std::FILE* stream) {
  const HANDLE console = HandleOf(stream);
  DWORD mode = 0;
  return ::GetConsoleMode(console, &mode) &&
         ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
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
