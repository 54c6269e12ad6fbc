#pragma once

#include <QAbstractScrollArea>
#include <QTimer>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/log_text.h"

namespace kelvo {

// The log control: read-only, no word wrap, a vertical scroll bar; the view follows the caret
// sideways, without a horizontal bar. It holds the log's exact
// text and caret at every moment. The view is drawn from that text, one line per line feed and
// only the lines in sight, so a line costs the same however long the log has grown; it catches
// up with the text at most kViewDelay after a write, scrolls the caret into view and gives up
// any selection of the operator. The operator can select with the mouse and copy (Ctrl+C, or
// the context menu).
class LogPane : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kViewDelay{50};

  explicit LogPane(QWidget* parent = nullptr);

  const std::string& Text() const { return log_.Text(); }
  std::size_t Caret() const { return log_.Caret(); }

  // Replaces the whole text, as a transfer does when it starts the log afresh.
  void SetText(const std::string& text);
  void LogAppend(const std::string& text);
  void LogNewLine();
  void LogLine(const std::string& text);

  // Brings the view up to the text at once.
  void ShowNewest();

  // The view: the lines it shows and the operator's selection, as shown (without CR).
  int LineCount() const { return static_cast<int>(line_starts_.size()); }
  int FirstVisibleLine() const;
  int VisibleLineCount() const;
  QString SelectedText() const;
  void SelectAll();
  void CopySelection() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;  // the caret shows only while the log has focus
  void focusOutEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void ViewLater();
  void ForgetView();
  std::string_view LineBytes(int line) const;
  QString LineText(int line) const;
  int LineOf(std::size_t offset) const;
  int XOf(std::size_t offset) const;  // within its line, from the left edge of the text
  std::size_t OffsetAt(const QPoint& point) const;
  void UpdateScrollBars();
  void ScrollToCaret();

  LogText log_;
  // The view's index of the text: where each line starts, up to the bytes seen so far.
  std::vector<std::size_t> line_starts_{0};
  std::size_t indexed_ = 0;
  std::size_t longest_line_ = 0;  // in bytes; its width sets the horizontal scroll range
  int widest_ = 0;                // in pixels
  std::size_t anchor_ = 0;        // the selection, as text offsets; empty when equal
  std::size_t active_ = 0;
  QTimer view_timer_;
};

}  // namespace kelvo
