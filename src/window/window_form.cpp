#include "window/window_form.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>

#include "window/log_pane.h"

namespace kelvo {
namespace {

std::string ToBytes(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

QString FromBytes(const std::string& text) {
  return QString::fromLocal8Bit(text);
}

}  // namespace

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
      text = ToBytes(edit->text());
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      text = ToBytes(combo->currentText());
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      text = ToBytes(button->text());
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
      edit->setText(FromBytes(text));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      combo->setEditText(FromBytes(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      button->setText(FromBytes(text));
    }
  });
}

void WindowForm::EnableButton(Control button, bool enabled) {
  OnWindowThread([&] { Widget(button)->setEnabled(enabled); });
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
