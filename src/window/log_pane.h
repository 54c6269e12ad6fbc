#pragma once

#include <QPlainTextEdit>
#include <QTimer>
#include <chrono>
#include <string>

#include "transfer/log_text.h"

namespace kelvo {

// The log control. It holds the log's exact text and caret at every moment; the view catches up
// at most kViewDelay after a write, because a view update costs far more than the line it shows
// and a transfer may write thousands of lines a second.
class LogPane : public QPlainTextEdit {
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

  // Brings the view up to the text at once and scrolls to the caret, giving up any selection
  // or scroll position of the operator.
  void ShowNewest();

 private:
  void ViewLater();

  LogText log_;
  std::size_t shown_ = 0;  // bytes of the text that the view holds
  bool replaced_ = false;  // the whole text was replaced since the view last caught up
  QTimer view_timer_;
};

}  // namespace kelvo
