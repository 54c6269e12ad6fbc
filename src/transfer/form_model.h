#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "transfer/control_pointers.h"
#include "transfer/log_text.h"

namespace kelvo {

// What the log gained since a window last looked: its text from there on (from the start when it
// was started afresh), and where its caret is now.
struct LogChanges {
  bool restarted = false;
  std::string added;
  std::size_t caret = 0;
};

// The form in memory, as every transfer sees it: behind the command line, the tests and both
// windows. A transfer's calls change only this model, under a lock, and never wait for anything
// else. A window takes what changed once per timer period and shows it, and hands in what the
// operator types, so that ReadText sees it. A worker that outlives its window goes on writing
// here and touches nothing else.
class FormModel : public ControlPointers {
 public:
  FormModel();

  std::string ReadText(Control control) override;
  void SetText(Control control, const std::string& text) override;
  void EnableButton(Control button, bool enabled) override;
  void LogAppend(const std::string& text) override;
  void LogNewLine() override;
  void LogLine(const std::string& text) override;

  bool IsEnabled(Control button);

  // What changed since the last call, each control once with its latest state.
  struct Changes {
    std::vector<std::pair<Control, std::string>> texts;
    std::vector<std::pair<Control, bool>> buttons;
    std::optional<LogChanges> log;  // none when the log is as it was
  };
  Changes TakeChanges();

  // The operator changed a control's text; it is already shown, so it is no change to show.
  void Typed(Control control, const std::string& text);

 private:
  static std::size_t Index(Control control) { return static_cast<std::size_t>(control); }

  std::mutex mutex_;
  std::array<std::string, kControlCount> texts_;
  std::array<bool, kControlCount> texts_changed_{};
  std::array<bool, kControlCount> enabled_{};
  std::array<bool, kControlCount> enabled_changed_{};
  LogText log_;
  std::size_t log_shown_ = 0;  // how much of the log's text TakeChanges has handed out
  bool log_restarted_ = false;
  bool log_changed_ = false;
};

}  // namespace kelvo
