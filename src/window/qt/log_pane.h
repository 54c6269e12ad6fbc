#pragma once

#include <QAbstractScrollArea>
#include <string_view>

#include "window/log_layout.h"

namespace kelvo {

// The log control: read-only, no word wrap, a vertical scroll bar; the view follows the caret
// sideways, without a horizontal bar. Only the lines in sight are drawn, so a line costs the same
// however long the log has grown. The operator can select with the mouse and copy (Ctrl+C, or the
// context menu); the caret shows only while the log has the focus.
class LogPane : public QAbstractScrollArea, private TextMetrics {
  Q_OBJECT

 public:
  explicit LogPane(QWidget* parent = nullptr);

  // Shows the log's changes, which the window takes from the form once a tick.
  void Show(const LogChanges& changes);

  const LogLayout& Layout() const { return layout_; }
  // As the clipboard takes it: lines end in LF alone.
  QString SelectedText() const;
  void SelectAll();
  void CopySelection() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  int LineHeight() const override;
  int Width(std::string_view piece) const override;
  std::size_t CharacterLength(std::string_view piece) const override;

  void UpdateScrollBar();
  std::size_t OffsetAt(const QPoint& point) const;

  LogLayout layout_{*this};
};

}  // namespace kelvo
