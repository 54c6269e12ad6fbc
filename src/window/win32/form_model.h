#pragma once

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/control_pointers.h"
#include "transfer/log_text.h"

namespace kelvo {

// The form as the window's transfers see it. A worker's calls change only this model, under a
// lock, and never wait for the window thread; the window brings its controls up to date from
// it once per timer period. A worker that outlives the window goes on writing here and touches
// nothing else. What the operator types comes in through Typed, so ReadText sees it.
class FormModel : public ControlPointers {
 public:
  FormModel();

  std::string ReadText(Control control) override;
  void SetText(Control control, const std::string& text) override;
  void EnableButton(Control button, bool enabled) override;
  void LogAppend(const std::string& text) override;
  void LogNewLine() override;
  void LogLine(const std::string& text) override;

  // What changed since the last call, for the window thread to show.
  struct Changes {
    std::vector<std::pair<Control, std::string>> texts;
    std::vector<std::pair<Control, bool>> buttons;
    bool log_restarted = false;  // the log starts afresh with log_added
    std::string log_added;       // the log's text since the last call
    std::size_t log_caret = 0;
    bool log_changed = false;
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
