#include "console_board.h"

#include <algorithm>

#include "serial/shown_text.h"
#include "terminal.h"

namespace kelvo::cli {
namespace {

// A terminal redraws well under this; more often would only slow an instant line down.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

ConsoleBoard::ConsoleBoard(std::FILE* log_stream, std::FILE* note_stream, bool live_rows,
                           std::size_t rows)
    : log_stream_(log_stream),
      note_stream_(note_stream),
      terminal_(live_rows ? note_stream : nullptr),
      log_shown_(IsTerminal(log_stream)),
      notes_shown_(IsTerminal(note_stream)),
      rows_(rows) {}

std::size_t ConsoleBoard::Width() const {
  return terminal_ ? TerminalWidth(terminal_) : 80;
}

void ConsoleBoard::Print(const std::string& text) {
  if (text.empty()) return;
  const std::string shown = log_shown_ ? ShownText(text) : text;
  const std::lock_guard lock(mutex_);
  Erase();
  std::fwrite(shown.data(), 1, shown.size(), log_stream_);
  std::fflush(log_stream_);
  line_open_ = text.back() != '\n';
  Draw();
}

void ConsoleBoard::Note(const std::string& text) {
  const std::lock_guard lock(mutex_);
  Erase();
  std::fputs((notes_shown_ ? ShownText(text) : text).c_str(), note_stream_);
  std::fflush(note_stream_);
  Draw();
}

void ConsoleBoard::SetRow(std::size_t row, std::string text, bool now) {
  if (!terminal_) return;
  const std::lock_guard lock(mutex_);
  rows_.at(row) = std::move(text);
  if (!now && std::chrono::steady_clock::now() - last_drawn_ < kRedrawInterval) return;
  Erase();
  Draw();
}

void ConsoleBoard::ClearRows() {
  const std::lock_guard lock(mutex_);
  Erase();
  rows_.assign(rows_.size(), "");
}

// The cursor rests at the end of the last row shown.
void ConsoleBoard::Erase() {
  if (rows_shown_ == 0) return;
  std::fputc('\r', terminal_);
  if (rows_shown_ > 1) std::fprintf(terminal_, "\033[%zuA", rows_shown_ - 1);
  std::fputs("\033[J", terminal_);
  std::fflush(terminal_);
  rows_shown_ = 0;
}

// Only below a finished log line: drawn after half a line, the rows would split that line in
// two. Rows past the screen's foot would scroll into the log, out of the erase's reach: the rows
// keep to the screen, less a line for the log, the last counting those left out.
void ConsoleBoard::Draw() {
  if (!terminal_ || line_open_) return;
  const std::size_t width = TerminalWidth(terminal_);
  const std::size_t room = std::max<std::size_t>(TerminalHeight(terminal_), 2) - 1;
  auto left = static_cast<std::size_t>(std::count_if(
      rows_.begin(), rows_.end(), [](const std::string& row) { return !row.empty(); }));
  for (const std::string& row : rows_) {
    if (row.empty()) continue;
    if (rows_shown_ + 1 == room && left > 1) {
      char more[32];
      std::snprintf(more, sizeof more, "+%zu more", left);
      DrawRow(more, width);
      break;
    }
    DrawRow(row, width);
    --left;
  }
  std::fflush(terminal_);
  last_drawn_ = std::chrono::steady_clock::now();
}

// A row longer than the terminal is cut, as a wrapped one would throw the erase off.
void ConsoleBoard::DrawRow(const std::string& text, std::size_t width) {
  if (rows_shown_ > 0) std::fputc('\n', terminal_);
  const std::string shown = ShownText(text);
  std::fwrite(shown.data(), 1, std::min(shown.size(), width > 0 ? width - 1 : 0), terminal_);
  ++rows_shown_;
}

}  // namespace kelvo::cli
