#include "transfer/memory_form.h"

namespace kelvo {

MemoryForm::MemoryForm() {
  enabled_[Control::StartButton] = true;
  enabled_[Control::HaltButton] = false;
}

std::string MemoryForm::ReadText(Control control) {
  std::lock_guard lock(mutex_);
  if (control == Control::LogEdit) return log_.Text();
  return texts_[control];
}

void MemoryForm::SetText(Control control, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (control == Control::LogEdit) {
    log_.SetText(text);
  } else {
    texts_[control] = text;
  }
}

void MemoryForm::EnableButton(Control button, bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_[button] = enabled;
}

void MemoryForm::LogAppend(const std::string& text) {
  std::lock_guard lock(mutex_);
  log_.LogAppend(text);
}

void MemoryForm::LogNewLine() {
  std::lock_guard lock(mutex_);
  log_.LogNewLine();
}

void MemoryForm::LogLine(const std::string& text) {
  std::lock_guard lock(mutex_);
  log_.LogLine(text);
}

bool MemoryForm::IsEnabled(Control button) {
  std::lock_guard lock(mutex_);
  return enabled_[button];
}

std::string MemoryForm::Log() {
  std::lock_guard lock(mutex_);
  return log_.Text();
}

std::size_t MemoryForm::LogCaret() {
  std::lock_guard lock(mutex_);
  return log_.Caret();
}

}  // namespace kelvo
