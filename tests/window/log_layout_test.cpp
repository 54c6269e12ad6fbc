#include "window/log_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace kelvo {
namespace {

// Lines 10 pixels high; every character, one to four bytes of UTF-8, 10 pixels wide.
struct TenPixelCharacters : TextMetrics {
  int LineHeight() const override { return 10; }
  int Width(std::string_view piece) const override {
    return 10 * static_cast<int>(std::count_if(piece.begin(), piece.end(), [](char c) {
             return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
           }));
  }
  std::size_t CharacterLength(std::string_view piece) const override {
    const auto lead = static_cast<unsigned char>(piece[0]);
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  }
};

class LogLayoutTest : public ::testing::Test {
 protected:
  LogLayoutTest() { log_.Resize(3, 100); }

  // As the form hands the log over: what was added, the caret at the start of its last piece.
  void Add(const std::string& added, std::size_t last_piece, bool restarted = false) {
    log_.Apply(
        {restarted, added, (restarted ? 0 : log_.Text().size()) + added.size() - last_piece});
  }

  TenPixelCharacters metrics_;
  LogLayout log_{metrics_};
};

TEST_F(LogLayoutTest, IndexesLinesWithoutTheirEndsAndFollowsTheCaretDownAndAcross) {
  std::string lines;
  for (int i = 0; i < 10; ++i) lines += "Line " + std::to_string(i) + "\r\n";
  Add(lines, 0);
  EXPECT_EQ(log_.LineCount(), 11u);
  EXPECT_EQ(log_.Line(3), "Line 3");
  EXPECT_EQ(log_.LineOf(log_.LineStart(3) + 7), 3u);  // the CR LF is its line's
  EXPECT_EQ(log_.Top(), 8u);                          // the caret's empty last line in view

  // Scrolled back and selected, the log gives both up at the next change.
  log_.ScrollTo(0);
  log_.SelectAll();
  Add("Opening Port COM1 . . . ", 24);
  EXPECT_EQ(log_.Selected(), "");
  EXPECT_EQ(log_.Caret(), log_.LineStart(10));
  EXPECT_EQ(log_.Top(), 8u);
  Add("Opened\r\n", 0);  // a line more: the view goes down with it
  EXPECT_EQ(log_.Top(), 9u);

  // Started afresh on a line longer than the view: the caret stands far to the right, then back
  // at the start of a new line.
  Add(std::string(300, 'x') + " . . . Acknowledged", 12, true);
  EXPECT_EQ(log_.LineCount(), 1u);
  EXPECT_EQ(log_.Left(), log_.XOf(log_.Caret()) - 100);
  Add("\r\n", 0);
  EXPECT_EQ(log_.Left(), 0);

  // The view never scrolls past either end of the text.
  log_.ScrollTo(-5);
  EXPECT_EQ(log_.Top(), 0u);
  log_.ScrollTo(99);
  EXPECT_EQ(log_.Top(), 0u);
}

// A point takes the character boundary nearest to it; on a tie, the one before.
TEST_F(LogLayoutTest, APointTakesTheNearestCharacterBoundary) {
  Add("alpha\r\nb\xC3\xA9ta\r\ngamma", 5);
  const std::tuple<int, int, std::size_t> cases[] = {
      // x, y, and the offset there
      {14, 0, 1},   {15, 0, 1},   {16, 0, 2},   {-3, 0, 0},
      {999, 5, 5},  {14, 10, 8},  {16, 10, 10},  // never 9, inside the two bytes of é
      {26, 10, 11}, {0, 999, 14}, {0, -9, 0}};
  for (const auto& [x, y, offset] : cases) EXPECT_EQ(log_.OffsetAt(x, y), offset) << x << ", " << y;
  log_.MoveCaret(log_.OffsetAt(30, 0), false);
  log_.MoveCaret(log_.OffsetAt(10, 10), true);
  EXPECT_EQ(log_.Selected(), "ha\r\nb");
  EXPECT_EQ(log_.SelectionBegin(), 3u);
}

}  // namespace
}  // namespace kelvo
