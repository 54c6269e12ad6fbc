#pragma once

#include <memory>
#include <string>

#include "transfer/form_model.h"
#include "transfer/shared_state.h"
#include "window/transfer_launcher.h"

namespace kelvo {

// What a window shares with the transfers it starts (they keep both alive), and with whoever
// watches it from another thread.
struct WindowParts {
  std::shared_ptr<SharedState> shared = std::make_shared<SharedState>();
  std::shared_ptr<FormModel> form = std::make_shared<FormModel>();
};

// The controls whose text the operator changes.
inline constexpr Control kTypedControls[] = {Control::FileEdit, Control::PortCombo,
                                             Control::StartAddressCombo, Control::DeviceTypeCombo,
                                             Control::ResponseDelayEdit};

// The control's id in the form table.
int ControlId(Control control);

// The form's controls as a system's window shows them.
class FormView {
 public:
  virtual void ShowText(Control control, const std::string& text) = 0;
  virtual void ShowEnabled(Control button, bool enabled) = 0;
  virtual void ShowLog(const LogChanges& log) = 0;
  virtual bool HasFocus(Control control) const = 0;
  virtual void Focus(Control control) = 0;

 protected:
  ~FormView() = default;
};

// The main window's behaviour, the same on every system: the form loaded from the settings file
// and saved by Quit, the clock that the window's timer ticks, Start and Halt, and the form's
// changes shown once a tick. The window thread never waits for a worker, nor a worker for it.
class WindowCore {
 public:
  // view's controls exist; the settings file's texts are shown before this returns.
  explicit WindowCore(FormView& view, WindowParts parts = {});

  const WindowParts& Parts() const { return parts_; }

  // The window's 50 ms timer: the clock's tick, then what changed since the last.
  void Tick();
  void Start() { launcher_.Start(); }
  void Halt() { launcher_.Halt(); }
  // While a transfer runs, Enter and Esc do nothing and the close box asks first.
  bool Busy() const { return launcher_.Busy(); }

  // The operator changed a control's text. The window's own showing of a text is no typing: it
  // would write back, over any newer one, the text the form held when the window took it.
  void Typed(Control control, const std::string& text);

  // Quit: saves the form; what to tell the operator when that fails, else nothing.
  std::string Save();

 private:
  void ShowChanges();

  FormView& view_;
  const WindowParts parts_;
  TransferLauncher launcher_;
  bool showing_ = false;
};

// Help's document: the copy in the current folder (here) when it can be read, else the one
// installed with the program.
std::string HelpPath(const std::string& here, const std::string& installed);

}  // namespace kelvo
