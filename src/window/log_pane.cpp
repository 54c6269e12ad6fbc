#include "window/log_pane.h"

#include <QTextCursor>
#include <algorithm>
#include <string_view>

namespace kelvo {
namespace {

// The view shows CR LF as one line break; dropping every CR keeps the count of shown characters
// a plain function of the bytes, whatever the batch boundaries.
QString ViewText(std::string_view bytes) {
  std::string shown;
  shown.reserve(bytes.size());
  std::copy_if(bytes.begin(), bytes.end(), std::back_inserter(shown),
               [](char c) { return c != '\r'; });
  return QString::fromLocal8Bit(shown);
}

}  // namespace

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  view_timer_.setSingleShot(true);
  view_timer_.setInterval(kViewDelay);
  connect(&view_timer_, &QTimer::timeout, this, &LogPane::ShowNewest);
}

void LogPane::SetText(const std::string& text) {
  log_.SetText(text);
  replaced_ = true;
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

void LogPane::ShowNewest() {
  view_timer_.stop();
  const std::string& text = log_.Text();
  if (replaced_) {
    setPlainText(ViewText(text));
    replaced_ = false;
  } else if (shown_ < text.size()) {
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(ViewText(std::string_view(text).substr(shown_)));
  }
  shown_ = text.size();

  QTextCursor caret(document());
  caret.movePosition(QTextCursor::End);
  const auto after_caret = ViewText(std::string_view(text).substr(log_.Caret())).size();
  caret.setPosition(caret.position() - static_cast<int>(after_caret));
  setTextCursor(caret);
  ensureCursorVisible();
}

}  // namespace kelvo
