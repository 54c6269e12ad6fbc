#include "console_board.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "simulator/pseudo_terminal.h"

namespace kelvo::cli {
namespace {

// What an 80-column terminal shows after these bytes: enough of one for the board's moves (CR,
// LF, wrapping at the edge, ESC[nA up, ESC[J erase to the end of the screen).
std::vector<std::string> Screen(const std::string& bytes) {
  std::vector<std::string> lines(1);
  std::size_t row = 0, column = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r') {
      column = 0;
    } else if (c == '\033') {
      const std::size_t end = bytes.find_first_of("AJ", i);
      const bool counted = std::isdigit(static_cast<unsigned char>(bytes[i + 2]));
      if (bytes[end] == 'A') row -= std::min(row, counted ? std::stoul(bytes.substr(i + 2)) : 1);
      if (bytes[end] == 'J') {
        lines[row].resize(column);
        lines.resize(row + 1);
      }
      i = end;
    } else {
      if (c == '\n' || column == 80) {
        if (++row == lines.size()) lines.emplace_back();
        column = 0;
      }
      if (c == '\n') continue;
      lines[row].resize(std::max(lines[row].size(), column + 1), ' ');
      lines[row][column++] = c;
    }
  }
  return lines;
}

// The rows stay below the log as lines come from the transfers: redrawn in place, never left
// behind, never splitting a line, and gone at the end.
TEST(ConsoleBoard, KeepsOneRowPerTransferBelowTheLog) {
  std::FILE* terminal = std::tmpfile();  // the log and the rows share one terminal
  ConsoleBoard board(terminal, terminal, true, 3);
  const auto screen = [&] {
    std::fflush(terminal);
    std::string bytes(static_cast<std::size_t>(std::ftell(terminal)), '\0');
    std::rewind(terminal);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), terminal));
    std::fseek(terminal, 0, SEEK_END);
    return Screen(bytes);
  };
  using Lines = std::vector<std::string>;

  board.SetRow(0, "a 10%", true);
  board.SetRow(2, "c " + std::string(100, '#'), true);
  board.Print("line one\n");
  board.SetRow(1, "b 50%", true);
  board.SetRow(0, "a 20%", true);
  EXPECT_EQ(screen(), (Lines{"line one", "a 20%", "b 50%", "c " + std::string(77, '#')}));

  board.Print("half ");
  board.SetRow(1, "b 60%", true);
  board.Print("done\n");
  board.SetRow(1, "b 70%", false);  // too soon after the last redraw: shown with the next
  EXPECT_EQ(screen(),
            (Lines{"line one", "half done", "a 20%", "b 60%", "c " + std::string(77, '#')}));
  board.ClearRows();
  EXPECT_EQ(screen(), (Lines{"line one", "half done", ""}));
  std::fclose(terminal);
}

// More rows than a terminal of 4 lines has room for: rows that scrolled into the log could not be
// erased, so the board keeps to the screen, less the log's last line, and counts the others.
TEST(ConsoleBoard, KeepsToTheScreenAndCountsTheRowsLeftOut) {
  PseudoTerminal pty;
  const winsize size{.ws_row = 4, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
  ASSERT_EQ(::ioctl(pty.MasterFd(), TIOCSWINSZ, &size), 0);
  std::FILE* terminal = std::fopen(pty.SlavePath().c_str(), "w");
  ASSERT_NE(terminal, nullptr);
  {
    ConsoleBoard board(terminal, terminal, true, 6);
    for (std::size_t row = 0; row < 6; ++row) board.SetRow(row, "row " + std::to_string(row), true);
    board.Print("log\n");
  }
  std::fclose(terminal);
  const std::vector<std::uint8_t> shown = pty.ReadAvailable(std::chrono::milliseconds(100));
  EXPECT_EQ(Screen({shown.begin(), shown.end()}),
            (std::vector<std::string>{"log", "row 0", "row 1", "+4 more"}));
}

// A script's message may carry a terminal's commands (a new title, a cleared screen): a terminal
// is shown them, while a file given the log keeps its bytes.
TEST(ConsoleBoard, ShowsControlBytesToATerminalAndKeepsThemInAFile) {
  const std::string message = "title\x1B]0;x\x07 clear\x1B[2J\r\x7F\tend\n";
  PseudoTerminal pty;
  std::FILE* terminal = std::fopen(pty.SlavePath().c_str(), "w");
  std::FILE* file = std::tmpfile();
  ASSERT_NE(terminal, nullptr);
  for (std::FILE* stream : {terminal, file}) {
    ConsoleBoard board(stream, stream, false, 1);
    board.Print(message);
    board.Note(message);
  }
  std::fclose(terminal);
  const std::vector<std::uint8_t> shown = pty.ReadAvailable(std::chrono::milliseconds(100));
  const std::string line = "title^[]0;x^G clear^[[2J^M^?\tend\n";
  EXPECT_EQ(std::string(shown.begin(), shown.end()), line + line);
  std::rewind(file);
  std::string kept(2 * message.size(), '\0');
  kept.resize(std::fread(kept.data(), 1, kept.size() + 1, file));
  EXPECT_EQ(kept, message + message);
  std::fclose(file);
}

}  // namespace
}  // namespace kelvo::cli
