#pragma once

#include <cstddef>
#include <string>

#include "serial/line_log.h"

namespace kelvo {

// The form's controls that a transfer reads or writes.
enum class Control {
  FileEdit,
  PortCombo,
  StartAddressCombo,
  DeviceTypeCombo,
  LogEdit,
  BlockField,
  ErrorsField,
  StartButton,
  HaltButton,
  AddressField,
  ChecksumField,
  ResponseDelayEdit,
};
inline constexpr std::size_t kControlCount = 12;

// How a transfer reaches the form. Every call completes before it returns, so a transfer sees
// the form as its own writes left it. Every front end keeps the form in memory (FormModel); a
// window shows it from there.
class ControlPointers : public LineLog {
 public:
  virtual std::string ReadText(Control control) = 0;
  // Replaces the whole text; on LogEdit this starts the log afresh.
  virtual void SetText(Control control, const std::string& text) = 0;
  virtual void EnableButton(Control button, bool enabled) = 0;

  // The log: text appended without a line break, a line break (CR LF), and both.
  virtual void LogAppend(const std::string& text) = 0;
  virtual void LogNewLine() = 0;
  void LogLine(const std::string& text) override = 0;
};

}  // namespace kelvo
