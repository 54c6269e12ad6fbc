#include "window/log_pane.h"

#include <QScrollBar>
#include <functional>

#include "window_test_support.h"

namespace kelvo {
namespace {

// What the view shows of a text: CR LF as one line break.
QString Shown(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.remove('\r');
  return shown;
}

TEST(LogPane, TextAndCaretAreExactAtOnceAndTheViewShowsThemAfterwards) {
  struct Case {
    const char* name;
    std::function<void(LogPane&)> write;
    std::string text;
    std::size_t caret;
    int view_caret;  // in the view, where CR LF is one character
  };
  const Case cases[] = {
      {"append on an empty log", [](LogPane& p) { p.LogAppend("abc"); }, "abc", 0, 0},
      {"empty append", [](LogPane& p) { p.LogAppend("ab"), p.LogAppend(""); }, "ab", 2, 2},
      {"new line on an empty log", [](LogPane& p) { p.LogNewLine(); }, "\r\n", 2, 1},
      {"line after the first",
       [](LogPane& p) {
         p.SetText("Starting");
         p.LogNewLine();
         p.LogLine("Closing Port");
       },
       "Starting\r\nClosing Port\r\n", 24, 22},
      {"step and outcome on one line",
       [](LogPane& p) {
         p.LogLine("Starting");
         p.LogAppend("Opening Port COM1 . . . ");
         p.LogLine("Failed");
       },
       "Starting\r\nOpening Port COM1 . . . Failed\r\n", 42, 40},
      {"caret at the start of the appended piece",
       [](LogPane& p) {
         p.LogLine("Starting");
         p.LogAppend("Waiting for Initial NAK . . . ");
       },
       "Starting\r\nWaiting for Initial NAK . . . ", 10, 9},
      {"set text replaces everything",
       [](LogPane& p) {
         p.LogLine("old line");
         p.SetText("Starting");
       },
       "Starting", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogPane pane;
    c.write(pane);
    EXPECT_EQ(pane.Text(), c.text);
    EXPECT_EQ(pane.Caret(), c.caret);
    pane.ShowNewest();
    EXPECT_EQ(pane.toPlainText(), Shown(c.text));
    EXPECT_EQ(pane.textCursor().position(), c.view_caret);
  }
}

TEST(LogPane, TheViewCatchesUpInBatchesAndFollowsTheNewestText) {
  LogPane pane;
  pane.resize(300, 120);
  pane.show();
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    const std::string line = "Line " + std::to_string(i) + " of a log longer than its view";
    pane.LogLine(line);
    expected += line + "\r\n";
  }
  // The text is exact at once; the view has not been touched yet.
  EXPECT_EQ(pane.Text(), expected);
  EXPECT_TRUE(pane.toPlainText().isEmpty());
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return pane.toPlainText() == Shown(expected); },
                                          std::chrono::seconds(2)));
  QScrollBar* scroll = pane.verticalScrollBar();
  EXPECT_GT(scroll->value(), 0);
  EXPECT_TRUE(pane.viewport()->rect().contains(pane.cursorRect()));

  // The operator scrolls back and selects; the next write brings the newest text back.
  scroll->setValue(0);
  pane.selectAll();
  pane.LogLine("one more");
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return !pane.textCursor().hasSelection(); },
                                          std::chrono::seconds(2)));
  EXPECT_GT(scroll->value(), 0);
  EXPECT_TRUE(pane.viewport()->rect().contains(pane.cursorRect()));
  EXPECT_TRUE(pane.toPlainText().endsWith("one more\n"));
}

}  // namespace
}  // namespace kelvo
