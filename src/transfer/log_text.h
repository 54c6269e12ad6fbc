#pragma once

#include <cstddef>
#include <string>

namespace kelvo {

// The log's text and caret. Lines end in CR LF. An append costs in proportion to what it
// appends, whatever the length of the log.
class LogText {
 public:
  const std::string& Text() const { return text_; }
  // Offset of the caret in characters: after an append, the start of the appended piece.
  std::size_t Caret() const { return caret_; }

  void SetText(const std::string& text);
  void LogAppend(const std::string& text);
  void LogNewLine();
  void LogLine(const std::string& text);

 private:
  std::string text_;
  std::size_t caret_ = 0;
};

}  // namespace kelvo
