#include "window/qt/log_pane.h"

#include <QClipboard>
#include <QScrollBar>

#include "window_test_support.h"

namespace kelvo {
namespace {

// The log's rules are LogLayout's; these are about Qt's side of them: the scroll bar, the mouse,
// the clipboard and the caret.
TEST(LogPane, ItsScrollBarFollowsTheLogAndTheOperatorSelectsAndCopiesWithoutCarriageReturns) {
  LogPane pane;
  pane.resize(300, 120);
  testing::ShowAndActivate(pane);
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += "Line " + std::to_string(i) + " of a log\r\n";
  pane.Show({true, lines, lines.size()});
  QScrollBar* scroll = pane.verticalScrollBar();
  EXPECT_EQ(scroll->maximum(), static_cast<int>(301 - pane.Layout().LinesInView()));
  EXPECT_EQ(scroll->value(), scroll->maximum());
  scroll->setValue(0);
  EXPECT_EQ(pane.Layout().Top(), 0u);

  pane.Show({true, "alpha\r\nbeta\r\ngamma\r\n", 0});
  const QFontMetrics metrics = pane.fontMetrics();
  // Nearer the boundary after "be" than the one before it.
  const int e_width = metrics.horizontalAdvance("e");
  const QPoint after_be(2 + metrics.horizontalAdvance("b") + e_width * 3 / 4,
                        metrics.height() * 3 / 2);
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
