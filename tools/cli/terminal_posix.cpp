#include <sys/ioctl.h>
#include <unistd.h>

#include "terminal.h"

namespace kelvo::cli {

// A terminal here takes the log's bytes as they are, and IsLiveTerminal changes nothing.
void PrepareTerminal() {}
void RestoreTerminal() {}

bool IsTerminal(std::FILE* stream) {
  return ::isatty(fileno(stream));
}

bool IsLiveTerminal(std::FILE* stream) {
  return IsTerminal(stream);
}

std::size_t TerminalWidth(std::FILE* terminal) {
  winsize size{};
  if (::ioctl(fileno(terminal), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

std::size_t TerminalHeight(std::FILE* terminal) {
  winsize size{};
  if (::ioctl(fileno(terminal), TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
  return 24;
}

}  // namespace kelvo::cli
