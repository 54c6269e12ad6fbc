#include "window/window_form.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>

#include "window/byte_text.h"
#include "window/log_pane.h"

namespace kelvo {
WindowForm::WindowForm(QWidget& window, const std::array<QWidget*, kControlCount>& controls,
                       LogPane& log)
    : window_thread_(std::this_thread::get_id()),
      link_(std::make_shared<Link>()),
      controls_(controls),
      log_(log) {
  link_->window = &window;
}

void WindowForm::Detach() {
  {
    std::lock_guard lock(link_->mutex);
    link_->window = nullptr;
  }
  link_->answered.notify_all();
}

void WindowForm::OnWindowThread(const std::function<void()>& action) {
  if (std::this_thread::get_id() == window_thread_) {
    // Only this thread changes link_->window, so it may read it without the lock.
    if (link_->window) action();
    return;
  }
  auto answered = std::make_shared<bool>(false);
  std::unique_lock lock(link_->mutex);
  if (!link_->window) return;
  // Posted under the lock, so the window cannot go away in between. The call runs only while
  // the window exists: a window that goes first discards it, and the caller stops waiting.
  QMetaObject::invokeMethod(
      link_->window,
      [link = link_, answered, action] {
        if (!link->window) return;
        action();
        {
          std::lock_guard done(link->mutex);
          *answered = true;
        }
        link->answered.notify_all();
      },
      Qt::QueuedConnection);
  link_->answered.wait(lock, [&] { return *answered || !link_->window; });
}

QWidget* WindowForm::Widget(Control control) const {
  return controls_[static_cast<std::size_t>(control)];
}

std::string WindowForm::ReadText(Control control) {
  std::string text;
  OnWindowThread([&] {
    QWidget* widget = Widget(control);
    if (control == Control::LogEdit) {
      text = log_.Text();
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      text = BytesFromText(edit->text());
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      text = BytesFromText(combo->currentText());
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      text = BytesFromText(button->text());
    }
  });
  return text;
}

void WindowForm::SetText(Control control, const std::string& text) {
  OnWindowThread([&] {
    QWidget* widget = Widget(control);
    if (control == Control::LogEdit) {
      log_.SetText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      edit->setText(TextFromBytes(text));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      combo->setEditText(TextFromBytes(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      button->setText(TextFromBytes(text));
    }
  });
}

void WindowForm::EnableButton(Control button, bool enabled) {
  OnWindowThread([&] {
    QWidget* widget = Widget(button);
    // Qt would pass the focus of a disabled button on to the next control, where a key press
    // meant for the button would quit or edit a field in the middle of a transfer; the log,
    // which takes no typing, has it instead.
    if (!enabled && widget->hasFocus()) log_.setFocus();
    widget->setEnabled(enabled);
  });
}

void WindowForm::LogAppend(const std::string& text) {
  OnWindowThread([&] { log_.LogAppend(text); });
}

void WindowForm::LogNewLine() {
  OnWindowThread([&] { log_.LogNewLine(); });
}

void WindowForm::LogLine(const std::string& text) {
  OnWindowThread([&] { log_.LogLine(text); });
}

}  // namespace kelvo
