#include "window/log_pane.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "window/byte_text.h"

namespace kelvo {
namespace {

constexpr int kMargin = 2;  // pixels between the frame and the text

}  // namespace

LogPane::LogPane(QWidget* parent) : QAbstractScrollArea(parent) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The view follows the caret sideways; a bar would hide a line of the log.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  view_timer_.setSingleShot(true);
  view_timer_.setInterval(kViewDelay);
  connect(&view_timer_, &QTimer::timeout, this, &LogPane::ShowNewest);
  UpdateScrollBars();
}

void LogPane::SetText(const std::string& text) {
  log_.SetText(text);
  ForgetView();
  ViewLater();
}

void LogPane::LogAppend(const std::string& text) {
  log_.LogAppend(text);
  ViewLater();
}

void LogPane::LogNewLine() {
  log_.LogNewLine();
  ViewLater();
}

void LogPane::LogLine(const std::string& text) {
  log_.LogLine(text);
  ViewLater();
}

void LogPane::ViewLater() {
  if (!view_timer_.isActive()) view_timer_.start();
}

// The text was replaced: the view starts again from nothing.
void LogPane::ForgetView() {
  line_starts_.assign(1, 0);
  indexed_ = 0;
  longest_line_ = 0;
  widest_ = 0;
  anchor_ = active_ = 0;
}

void LogPane::ShowNewest() {
  view_timer_.stop();
  const std::string& text = log_.Text();
  // The last line shown so far may have grown; it and every new line are looked at once.
  const int first_changed = LineCount() - 1;
  for (std::size_t i = indexed_; i < text.size(); ++i) {
    if (text[i] == '\n') line_starts_.push_back(i + 1);
  }
  indexed_ = text.size();
  for (int line = first_changed; line < LineCount(); ++line) {
    const std::size_t length = LineBytes(line).size();
    if (length > longest_line_) {
      longest_line_ = length;
      widest_ = std::max(widest_, fontMetrics().horizontalAdvance(LineText(line)));
    }
  }
  anchor_ = active_ = log_.Caret();
  UpdateScrollBars();
  ScrollToCaret();
  viewport()->update();
}

std::string_view LogPane::LineBytes(int line) const {
  const std::size_t begin = line_starts_[static_cast<std::size_t>(line)];
  std::size_t end =
      line + 1 < LineCount() ? line_starts_[static_cast<std::size_t>(line) + 1] - 1 : indexed_;
  std::string_view bytes = std::string_view(log_.Text()).substr(begin, end - begin);
  if (bytes.ends_with('\r')) bytes.remove_suffix(1);
  return bytes;
}

QString LogPane::LineText(int line) const {
  return TextFromBytes(LineBytes(line));
}

int LogPane::LineOf(std::size_t offset) const {
  return static_cast<int>(std::upper_bound(line_starts_.begin(), line_starts_.end(), offset) -
                          line_starts_.begin()) -
         1;
}

int LogPane::XOf(std::size_t offset) const {
  const int line = LineOf(offset);
  const std::string_view bytes = LineBytes(line);
  const std::size_t column =
      std::min(offset - line_starts_[static_cast<std::size_t>(line)], bytes.size());
  return fontMetrics().horizontalAdvance(TextFromBytes(bytes.substr(0, column)));
}

std::size_t LogPane::OffsetAt(const QPoint& point) const {
  const int line =
      std::clamp(FirstVisibleLine() + point.y() / fontMetrics().height(), 0, LineCount() - 1);
  const QString text = LineText(line);
  const int x = point.x() - kMargin + horizontalScrollBar()->value();
  // The character boundary nearest to x; advances grow with the length of the prefix.
  int low = 0;
  int high = static_cast<int>(text.size());
  while (low < high) {
    const int middle = (low + high) / 2;
    if (fontMetrics().horizontalAdvance(text.left(middle + 1)) <= x) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low < text.size()) {
    const int before = fontMetrics().horizontalAdvance(text.left(low));
    const int after = fontMetrics().horizontalAdvance(text.left(low + 1));
    if (x - before > after - x) ++low;
  }
  return line_starts_[static_cast<std::size_t>(line)] + BytesFromText(text.left(low)).size();
}

int LogPane::FirstVisibleLine() const {
  return verticalScrollBar()->value();
}

int LogPane::VisibleLineCount() const {
  return std::max(1, viewport()->height() / fontMetrics().height());
}

void LogPane::UpdateScrollBars() {
  const int visible = VisibleLineCount();
  verticalScrollBar()->setRange(0, std::max(0, LineCount() - visible));
  verticalScrollBar()->setPageStep(visible);
  verticalScrollBar()->setSingleStep(1);
  const int width = viewport()->width();
  horizontalScrollBar()->setRange(0, std::max(0, widest_ + 2 * kMargin - width));
  horizontalScrollBar()->setPageStep(width);
  horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
}

void LogPane::ScrollToCaret() {
  const std::size_t caret = std::min(log_.Caret(), indexed_);
  const int line = LineOf(caret);
  QScrollBar* vertical = verticalScrollBar();
  if (line < vertical->value()) {
    vertical->setValue(line);
  } else if (line >= vertical->value() + VisibleLineCount()) {
    vertical->setValue(line - VisibleLineCount() + 1);
  }
  const int x = XOf(caret);
  QScrollBar* horizontal = horizontalScrollBar();
  const int room = viewport()->width() - 2 * kMargin;
  if (x < horizontal->value()) {
    horizontal->setValue(x);
  } else if (x > horizontal->value() + room) {
    horizontal->setValue(x - room);
  }
}

QString LogPane::SelectedText() const {
  const std::size_t begin = std::min({anchor_, active_, indexed_});
  const std::size_t end = std::min(std::max(anchor_, active_), indexed_);
  std::string selected;
  for (const char c : std::string_view(log_.Text()).substr(begin, end - begin)) {
    if (c != '\r') selected += c;
  }
  return TextFromBytes(selected);
}

void LogPane::SelectAll() {
  anchor_ = 0;
  active_ = indexed_;
  viewport()->update();
}

void LogPane::CopySelection() const {
  if (anchor_ != active_) QApplication::clipboard()->setText(SelectedText());
}

void LogPane::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QFontMetrics metrics = fontMetrics();
  const int line_height = metrics.height();
  const int left = kMargin - horizontalScrollBar()->value();
  const std::size_t selection_begin = std::min(anchor_, active_);
  const std::size_t selection_end = std::max(anchor_, active_);
  for (int line = FirstVisibleLine(), y = 0; line < LineCount() && y < viewport()->height();
       ++line, y += line_height) {
    const QString text = LineText(line);
    const int width = metrics.horizontalAdvance(text);
    if (width > widest_) {
      // Widths are measured for the longest lines only; a shorter but wider one shows here.
      widest_ = width;
      UpdateScrollBars();
    }
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(left, y + metrics.ascent(), text);

    const std::size_t line_begin = line_starts_[static_cast<std::size_t>(line)];
    const std::size_t line_end =
        line + 1 < LineCount() ? line_starts_[static_cast<std::size_t>(line) + 1] : indexed_ + 1;
    if (selection_begin >= selection_end || selection_end <= line_begin ||
        selection_begin >= line_end) {
      continue;
    }
    const int from = selection_begin <= line_begin ? 0 : XOf(selection_begin);
    // A selection that runs on past the line break shows a little of it, as edit controls do.
    const int to =
        selection_end >= line_end ? width + metrics.averageCharWidth() : XOf(selection_end);
    const QRect selected(left + from, y, to - from, line_height);
    painter.fillRect(selected, palette().brush(QPalette::Highlight));
    painter.save();
    painter.setClipRect(selected);
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(left, y + metrics.ascent(), text);
    painter.restore();
  }
  if (hasFocus()) {
    const int line = LineOf(std::min(active_, indexed_));
    const int y = (line - FirstVisibleLine()) * line_height;
    const int x = left + XOf(std::min(active_, indexed_));
    painter.fillRect(x, y, 1, line_height, palette().color(QPalette::Text));
  }
}

void LogPane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void LogPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  active_ = OffsetAt(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = active_;
  viewport()->update();
}

void LogPane::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return QAbstractScrollArea::mouseMoveEvent(event);
  active_ = OffsetAt(event->position().toPoint());
  viewport()->update();
}

void LogPane::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    CopySelection();
  } else if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
  } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
    verticalScrollBar()->setValue(0);
  } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogPane::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void LogPane::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void LogPane::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(tr("&Copy"), this, &LogPane::CopySelection);
  copy->setEnabled(anchor_ != active_);
  menu.addSeparator();
  menu.addAction(tr("Select &All"), this, &LogPane::SelectAll);
  menu.exec(event->globalPos());
}

}  // namespace kelvo
