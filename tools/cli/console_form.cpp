#include "console_form.h"

#include <utility>

namespace kelvo::cli {
namespace {

bool IsProgressField(Control control) {
  return control == Control::BlockField || control == Control::ErrorsField ||
         control == Control::AddressField || control == Control::ChecksumField;
}

// A block's fields are written in turn, its checksum last; the error count changes on its own.
bool CompletesAnUpdate(Control control) {
  return control == Control::ChecksumField || control == Control::ErrorsField;
}

}  // namespace

ConsoleForm::ConsoleForm(ConsoleBoard& board, std::size_t row, std::string label)
    : board_(board),
      row_(row),
      label_(std::move(label)),
      note_prefix_(
          "kelvo-cli: " +
          (label_.empty() ? "" : label_.substr(0, label_.find_last_not_of(' ') + 1) + " ")) {}

void ConsoleForm::SetText(Control control, const std::string& text) {
  FormModel::SetText(control, text);
  if (control == Control::LogEdit) {
    Print(text);
    return;
  }
  if (!board_.ShowsProgress() || !IsProgressField(control)) return;
  meter_.SetField(control, text, std::chrono::steady_clock::now());
  if (CompletesAnUpdate(control)) board_.SetRow(row_, RowText(), meter_.Finished());
}

void ConsoleForm::LogAppend(const std::string& text) {
  FormModel::LogAppend(text);
  Print(text);
}

void ConsoleForm::LogNewLine() {
  FormModel::LogNewLine();
  Print("\n");
}

void ConsoleForm::LogLine(const std::string& text) {
  FormModel::LogLine(text);
  Print(text + "\n");
}

void ConsoleForm::Print(const std::string& piece) {
  if (label_.empty()) board_.Print(piece);
  open_line_ += piece;
  std::string lines, notes;
  for (std::size_t end; (end = open_line_.find('\n')) != std::string::npos;) {
    last_line_ = open_line_.substr(0, end);
    lines += label_ + last_line_ + "\n";
    if (const std::string hint = hints_.After(last_line_); !hint.empty()) {
      notes += note_prefix_ + hint + "\n";
    }
    open_line_.erase(0, end + 1);
  }
  if (!label_.empty()) {
    board_.Print(lines);
    board_.SetRow(row_, RowText(), false);
  }
  if (!notes.empty()) board_.Note(notes);
}

// The fields start empty, as for the first device, and the meter anew.
void ConsoleForm::AwaitDevice(std::uint32_t number) {
  for (const Control field :
       {Control::BlockField, Control::ErrorsField, Control::AddressField, Control::ChecksumField}) {
    FormModel::SetText(field, "");
  }
  meter_ = ProgressMeter();
  waiting_ = "waiting for device " + std::to_string(number);
  board_.SetRow(row_, RowText(), true);
}

void ConsoleForm::DeviceAnswered() {
  waiting_.clear();
  board_.SetRow(row_, RowText(), true);
}

// Before the blocks begin, a labelled row tells what the transfer is doing.
std::string ConsoleForm::RowText() const {
  if (!waiting_.empty()) return label_ + waiting_;
  if (meter_.Started()) {
    const std::size_t width = board_.Width();
    return label_ + meter_.Line(width > label_.size() ? width - label_.size() : 0);
  }
  if (label_.empty()) return "";
  return label_ + (open_line_.empty() ? last_line_ : open_line_);
}

}  // namespace kelvo::cli
