#pragma once

#include <functional>
#include <string>

#include "transfer/form_model.h"

namespace kelvo::testing {

// The form in memory, showing a test or a bench each write of a transfer as it is made, on the
// transfer's thread: the control and the text written, for the log the piece it gained (a line
// without its end); a button comes with no text, and IsEnabled tells its state.
class WatchedForm : public FormModel {
 public:
  std::function<void(Control, const std::string&)> watch;

  std::string Log() { return ReadText(Control::LogEdit); }

  void SetText(Control control, const std::string& text) override {
    FormModel::SetText(control, text);
    Saw(control, text);
  }
  void EnableButton(Control button, bool enabled) override {
    FormModel::EnableButton(button, enabled);
    Saw(button, "");
  }
  void LogAppend(const std::string& text) override {
    FormModel::LogAppend(text);
    Saw(Control::LogEdit, text);
  }
  void LogLine(const std::string& text) override {
    FormModel::LogLine(text);
    Saw(Control::LogEdit, text);
  }

 private:
  void Saw(Control control, const std::string& text) {
    if (watch) watch(control, text);
  }
};

}  // namespace kelvo::testing
