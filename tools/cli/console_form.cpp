#include "console_form.h"

#include "terminal.h"

namespace kelvo::cli {
namespace {

// A terminal redraws well under this; more often would only slow an instant line down.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

bool IsProgressField(Control control) {
  return control == Control::BlockField || control == Control::ErrorsField ||
         control == Control::AddressField || control == Control::ChecksumField;
}

// A block's fields are written in turn, its checksum last; the error count changes on its own.
bool CompletesAnUpdate(Control control) {
  return control == Control::ChecksumField || control == Control::ErrorsField;
}

}  // namespace

ConsoleForm::ConsoleForm(std::FILE* log_stream, std::FILE* progress_terminal)
    : log_stream_(log_stream), progress_terminal_(progress_terminal) {}

void ConsoleForm::SetText(Control control, const std::string& text) {
  MemoryForm::SetText(control, text);
  if (control == Control::LogEdit) {
    Print(text);
    return;
  }
  if (!progress_terminal_ || !IsProgressField(control)) return;
  const auto now = std::chrono::steady_clock::now();
  meter_.SetField(control, text, now);
  if (CompletesAnUpdate(control) && (now - last_shown_ >= kRedrawInterval || meter_.Finished())) {
    ShowProgress();
  }
}

void ConsoleForm::LogAppend(const std::string& text) {
  MemoryForm::LogAppend(text);
  Print(text);
}

void ConsoleForm::LogNewLine() {
  MemoryForm::LogNewLine();
  Print("\n");
}

void ConsoleForm::LogLine(const std::string& text) {
  MemoryForm::LogLine(text);
  Print(text + "\n");
}

void ConsoleForm::ClearProgress() {
  if (!progress_shown_) return;
  std::fputs("\r\033[K", progress_terminal_);
  std::fflush(progress_terminal_);
  progress_shown_ = false;
}

void ConsoleForm::Print(const std::string& piece) {
  if (piece.empty()) return;
  ClearProgress();
  std::fwrite(piece.data(), 1, piece.size(), log_stream_);
  std::fflush(log_stream_);
  line_open_ = piece.back() != '\n';
  ShowProgress();
}

// Only below a finished log line: drawn after half a line, it would split that line in two.
void ConsoleForm::ShowProgress() {
  if (!progress_terminal_ || line_open_ || !meter_.Started()) return;
  const std::string line = meter_.Line(TerminalWidth(progress_terminal_));
  std::fprintf(progress_terminal_, "\r%s\033[K", line.c_str());
  std::fflush(progress_terminal_);
  progress_shown_ = true;
  last_shown_ = std::chrono::steady_clock::now();
}

}  // namespace kelvo::cli
