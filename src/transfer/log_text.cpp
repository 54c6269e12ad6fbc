#include "transfer/log_text.h"

namespace kelvo {

void LogText::SetText(const std::string& text) {
  text_ = text;
  caret_ = 0;
}

void LogText::LogAppend(const std::string& text) {
  caret_ = text_.size();
  text_ += text;
}

void LogText::LogNewLine() {
  text_ += "\r\n";
  caret_ = text_.size();
}

void LogText::LogLine(const std::string& text) {
  LogAppend(text);
  LogNewLine();
}

}  // namespace kelvo
