#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "console_board.h"
#include "log_hints.h"
#include "progress_line.h"
#include "transfer/form_model.h"

namespace kelvo::cli {

// The form of one transfer run from a shell: the form in memory, and besides, the log goes to
// the board with plain newlines for line ends, the progress fields to the board's row, and the
// advice that the log's lines call for to the board's notes, led by the label's port name.
// Without a label each log piece goes out the moment the transfer writes it; with one (when
// several transfers share the board) every line goes out whole, led by the label. Used by the
// one thread that runs the transfer.
class ConsoleForm : public FormModel {
 public:
  ConsoleForm(ConsoleBoard& board, std::size_t row, std::string label = "");

  void SetText(Control control, const std::string& text) override;
  void LogAppend(const std::string& text) override;
  void LogNewLine() override;
  void LogLine(const std::string& text) override;

  // A production line's port waits for its next device: the progress fields are emptied, and
  // the row says so until the device answers.
  void AwaitDevice(std::uint32_t number);
  void DeviceAnswered();

 private:
  void Print(const std::string& piece);
  std::string RowText() const;

  ConsoleBoard& board_;
  const std::size_t row_;
  const std::string label_;
  const std::string note_prefix_;  // "kelvo-cli: USB0: "
  std::string open_line_;          // the log's line not finished yet
  std::string last_line_;          // the log's last finished line, for a labelled row
  std::string waiting_;            // what the row says while the next device is awaited
  ProgressMeter meter_;
  LogHints hints_;
};

}  // namespace kelvo::cli
