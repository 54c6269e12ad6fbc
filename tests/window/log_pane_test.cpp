#include "window/log_pane.h"

#include <QClipboard>
#include <QScrollBar>

#include "window_test_support.h"

namespace kelvo {
namespace {

// The log's own rules are LogText's; these are about the view drawn from it.
TEST(LogPane, TheTextIsExactAtOnceTheViewCatchesUpFollowingTheCaretAndTheOperatorCopies) {
  LogPane pane;
  pane.resize(300, 120);
  testing::ShowAndActivate(pane);
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    const std::string line = "Line " + std::to_string(i) + " of a log longer than its view";
    pane.LogLine(line);
    expected += line + "\r\n";
  }
  EXPECT_EQ(pane.Text(), expected);
  EXPECT_EQ(pane.LineCount(), 1);  // the view has not been touched yet
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return pane.LineCount() == 301; },
                                          std::chrono::seconds(2)));
  QScrollBar* scroll = pane.verticalScrollBar();
  EXPECT_GT(scroll->maximum(), 0);
  EXPECT_EQ(scroll->value(), scroll->maximum());

  // Scrolled back and selected, the log shows the newest text at the next write.
  scroll->setValue(0);
  pane.SelectAll();
  pane.LogAppend("Opening Port COM1 . . . ");
  ASSERT_TRUE(testing::ProcessEventsUntil([&] { return pane.SelectedText().isEmpty(); },
                                          std::chrono::seconds(2)));
  pane.LogLine("Failed");
  pane.ShowNewest();
  EXPECT_EQ(pane.LineCount(), 302);
  EXPECT_EQ(scroll->value(), scroll->maximum());
  EXPECT_LE(pane.FirstVisibleLine() + pane.VisibleLineCount(), pane.LineCount());

  // New text starts the view afresh; on a long line it follows the caret sideways.
  pane.SetText(std::string(300, 'x') + " . . . ");
  pane.LogAppend("Acknowledged");  // the caret stands before this, far to the right
  pane.ShowNewest();
  EXPECT_EQ(pane.LineCount(), 1);
  QScrollBar* sideways = pane.horizontalScrollBar();
  const int caret_x = pane.fontMetrics().horizontalAdvance(QString(300, 'x') + " . . . ");
  EXPECT_GT(sideways->value(), 0);
  EXPECT_LE(sideways->value(), caret_x);
  EXPECT_GE(sideways->value() + pane.viewport()->width(), caret_x);
  pane.LogNewLine();
  pane.ShowNewest();
  EXPECT_EQ(sideways->value(), 0);

  // The operator selects with the mouse and copies.
  pane.SetText("alpha\r\nbeta\r\ngamma\r\n");
  pane.ShowNewest();
  const QFontMetrics metrics = pane.fontMetrics();
  const QPoint after_be(2 + metrics.horizontalAdvance("be"), metrics.height() * 3 / 2);
  QTest::mousePress(pane.viewport(), Qt::LeftButton, {}, QPoint(1, metrics.height() / 2));
  QTest::mouseMove(pane.viewport(), after_be);
  QTest::mouseRelease(pane.viewport(), Qt::LeftButton, {}, after_be);
  EXPECT_EQ(pane.SelectedText(), "alpha\nbe");

  // The caret shows only while the log has the focus.
  pane.clearFocus();
  const QImage unfocused = pane.viewport()->grab().toImage();
  pane.setFocus();
  EXPECT_NE(pane.viewport()->grab().toImage(), unfocused);
  QTest::keyClick(&pane, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "alpha\nbe");
  QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(pane.SelectedText(), "alpha\nbeta\ngamma\n");
}

}  // namespace
}  // namespace kelvo
