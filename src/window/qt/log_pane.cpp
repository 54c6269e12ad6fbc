#include "window/qt/log_pane.h"

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

#include "window/qt/byte_text.h"

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
  UpdateScrollBar();
}

void LogPane::Show(const LogChanges& changes) {
  layout_.Apply(changes);
  UpdateScrollBar();
  viewport()->update();
}

int LogPane::LineHeight() const {
  return fontMetrics().height();
}

int LogPane::Width(std::string_view piece) const {
  return fontMetrics().horizontalAdvance(TextFromBytes(piece));
}

std::size_t LogPane::CharacterLength(std::string_view piece) const {
  return kelvo::CharacterLength(piece);
}

void LogPane::UpdateScrollBar() {
  const auto in_view = static_cast<int>(layout_.LinesInView());
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, std::max(0, static_cast<int>(layout_.LineCount()) - in_view));
  vertical->setPageStep(in_view);
  vertical->setSingleStep(1);
  vertical->setValue(static_cast<int>(layout_.Top()));
}

std::size_t LogPane::OffsetAt(const QPoint& point) const {
  return layout_.OffsetAt(point.x() - kMargin, point.y());
}

QString LogPane::SelectedText() const {
  std::string selected(layout_.Selected());
  std::erase(selected, '\r');
  return TextFromBytes(selected);
}

void LogPane::SelectAll() {
  layout_.SelectAll();
  viewport()->update();
}

void LogPane::CopySelection() const {
  if (!layout_.Selected().empty()) QApplication::clipboard()->setText(SelectedText());
}

void LogPane::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QFontMetrics metrics = fontMetrics();
  const int line_height = metrics.height();
  const int left = kMargin - layout_.Left();
  const std::size_t selection_begin = layout_.SelectionBegin();
  const std::size_t selection_end = layout_.SelectionEnd();
  for (std::size_t line = layout_.Top(); line < layout_.LineCount(); ++line) {
    const int top = static_cast<int>(line - layout_.Top()) * line_height;
    if (top >= viewport()->height()) break;
    const QString text = TextFromBytes(layout_.Line(line));
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(left, top + metrics.ascent(), text);

    const std::size_t line_begin = layout_.LineStart(line);
    const std::size_t line_end =
        line + 1 < layout_.LineCount() ? layout_.LineStart(line + 1) : layout_.Text().size() + 1;
    if (selection_begin >= selection_end || selection_end <= line_begin ||
        selection_begin >= line_end) {
      continue;
    }
    const int from = selection_begin <= line_begin ? 0 : layout_.XOf(selection_begin);
    // A selection that runs on past the line break shows a little of it, as edit controls do.
    const int to = selection_end >= line_end
                       ? metrics.horizontalAdvance(text) + metrics.averageCharWidth()
                       : layout_.XOf(selection_end);
    const QRect selected(left + from, top, to - from, line_height);
    painter.fillRect(selected, palette().brush(QPalette::Highlight));
    painter.save();
    painter.setClipRect(selected);
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(left, top + metrics.ascent(), text);
    painter.restore();
  }
  if (hasFocus()) {
    const auto line = static_cast<int>(layout_.LineOf(layout_.Caret()));
    const int y = (line - static_cast<int>(layout_.Top())) * line_height;
    painter.fillRect(left + layout_.XOf(layout_.Caret()), y, 1, line_height,
                     palette().color(QPalette::Text));
  }
}

void LogPane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  layout_.Resize(static_cast<std::size_t>(viewport()->height() / fontMetrics().height()),
                 viewport()->width() - 2 * kMargin);
  UpdateScrollBar();
}

// The scroll bar moved: the view follows it.
void LogPane::scrollContentsBy(int, int) {
  layout_.ScrollTo(verticalScrollBar()->value());
  viewport()->update();
}

void LogPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  layout_.MoveCaret(OffsetAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
  viewport()->update();
}

void LogPane::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return QAbstractScrollArea::mouseMoveEvent(event);
  layout_.MoveCaret(OffsetAt(event->position().toPoint()), true);
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
  copy->setEnabled(!layout_.Selected().empty());
  menu.addSeparator();
  menu.addAction(tr("Select &All"), this, &LogPane::SelectAll);
  menu.exec(event->globalPos());
}

}  // namespace kelvo
