#include "transfer/form_model.h"

namespace kelvo {

FormModel::FormModel() {
  enabled_[Index(Control::StartButton)] = true;
}

std::string FormModel::ReadText(Control control) {
  std::lock_guard lock(mutex_);
  return control == Control::LogEdit ? log_.Text() : texts_[Index(control)];
}

void FormModel::SetText(Control control, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (control == Control::LogEdit) {
    log_.SetText(text);
    log_shown_ = 0;
    log_restarted_ = log_changed_ = true;
    return;
  }
  texts_[Index(control)] = text;
  texts_changed_[Index(control)] = true;
}

void FormModel::EnableButton(Control button, bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_[Index(button)] = enabled;
  enabled_changed_[Index(button)] = true;
}

void FormModel::LogAppend(const std::string& text) {
  std::lock_guard lock(mutex_);
  log_.LogAppend(text);
  log_changed_ = true;
}

void FormModel::LogNewLine() {
  std::lock_guard lock(mutex_);
  log_.LogNewLine();
  log_changed_ = true;
}

void FormModel::LogLine(const std::string& text) {
  std::lock_guard lock(mutex_);
  log_.LogLine(text);
  log_changed_ = true;
}

bool FormModel::IsEnabled(Control button) {
  std::lock_guard lock(mutex_);
  return enabled_[Index(button)];
}

FormModel::Changes FormModel::TakeChanges() {
  std::lock_guard lock(mutex_);
  Changes changes;
  for (std::size_t i = 0; i < kControlCount; ++i) {
    const auto control = static_cast<Control>(i);
    if (texts_changed_[i]) changes.texts.emplace_back(control, texts_[i]);
    if (enabled_changed_[i]) changes.buttons.emplace_back(control, enabled_[i]);
    texts_changed_[i] = enabled_changed_[i] = false;
  }
  if (log_changed_) {
    changes.log = LogChanges{log_restarted_, log_.Text().substr(log_shown_), log_.Caret()};
    log_shown_ = log_.Text().size();
    log_restarted_ = log_changed_ = false;
  }
  return changes;
}

void FormModel::Typed(Control control, const std::string& text) {
  std::lock_guard lock(mutex_);
  texts_[Index(control)] = text;
}

}  // namespace kelvo
