#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "progress_line.h"
#include "transfer/memory_form.h"

namespace kelvo::cli {

// The form of a transfer run from a shell: the form in memory, and besides, each log piece goes
// to log_stream the moment the transfer writes it, with plain newlines for line ends. The
// progress fields show as one live line on progress_terminal, kept below the log; pass nullptr
// when that is no terminal. Used by the one thread that runs the transfer.
class ConsoleForm : public MemoryForm {
 public:
  ConsoleForm(std::FILE* log_stream, std::FILE* progress_terminal);

  void SetText(Control control, const std::string& text) override;
  void LogAppend(const std::string& text) override;
  void LogNewLine() override;
  void LogLine(const std::string& text) override;

  // Takes the live line off the terminal, once the transfer is over.
  void ClearProgress();

 private:
  void Print(const std::string& piece);
  void ShowProgress();

  std::FILE* log_stream_;
  std::FILE* progress_terminal_;
  bool line_open_ = false;  // the log's current line is not finished yet
  ProgressMeter meter_;
  bool progress_shown_ = false;
  std::chrono::steady_clock::time_point last_shown_{};
};

}  // namespace kelvo::cli
