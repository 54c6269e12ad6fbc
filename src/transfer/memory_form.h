#pragma once

#include <map>
#include <mutex>
#include <string>

#include "transfer/control_pointers.h"
#include "transfer/log_text.h"

namespace kelvo {

// The form held in memory, for transfers that run without a window. Safe to read from another
// thread while a transfer writes it.
class MemoryForm : public ControlPointers {
 public:
  MemoryForm();

  std::string ReadText(Control control) override;
  void SetText(Control control, const std::string& text) override;
  void EnableButton(Control button, bool enabled) override;
  void LogAppend(const std::string& text) override;
  void LogNewLine() override;
  void LogLine(const std::string& text) override;

  bool IsEnabled(Control button);
  std::string Log();
  std::size_t LogCaret();

 private:
  std::mutex mutex_;
  std::map<Control, std::string> texts_;
  std::map<Control, bool> enabled_;
  LogText log_;
};

}  // namespace kelvo
