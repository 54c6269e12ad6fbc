#pragma once

#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "transfer/control_pointers.h"

class QWidget;

namespace kelvo {

class LogPane;

// The form behind the window, as the transfers see it. Every call is carried out by the window
// thread: at once when made there, otherwise handed to it while the calling thread waits. The
// window thread never waits for a worker. Once the window has detached the form, calls do
// nothing and read empty texts, so a worker that outlives the window never touches it.
class WindowForm : public ControlPointers {
 public:
  // Made on the window thread, which owns window. controls holds the form's controls in the order
  // of Control; the one for LogEdit is log.
  WindowForm(QWidget& window, const std::array<QWidget*, kControlCount>& controls, LogPane& log);

  // Called by the window thread while the window goes away, before its controls do.
  void Detach();

  std::string ReadText(Control control) override;
  void SetText(Control control, const std::string& text) override;
  void EnableButton(Control button, bool enabled) override;
  void LogAppend(const std::string& text) override;
  void LogNewLine() override;
  void LogLine(const std::string& text) override;

 private:
  struct Link {
    std::mutex mutex;
    std::condition_variable answered;
    QWidget* window;  // where calls are sent; null once the window is gone
  };

  void OnWindowThread(const std::function<void()>& action);
  QWidget* Widget(Control control) const;

  // A plain thread id, so a worker that outlives the window and the application asks nothing of
  // Qt to learn that it is not the window thread.
  const std::thread::id window_thread_;
  const std::shared_ptr<Link> link_;
  const std::array<QWidget*, kControlCount> controls_;
  LogPane& log_;
};

}  // namespace kelvo
