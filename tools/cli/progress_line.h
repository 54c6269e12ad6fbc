#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "transfer/control_pointers.h"

namespace kelvo::cli {

// The upload's four progress fields, as the transfer last wrote them, and how fast the blocks
// go, for a live line on a terminal.
class ProgressMeter {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // Takes a field's new text; BlockField ("12 / 28") also times the blocks.
  void SetField(Control field, const std::string& text, TimePoint now);

  bool Started() const { return block_total_ > 0; }
  bool Finished() const { return Started() && block_ >= block_total_; }

  // One line at most width columns: a bar, the percentage, the four fields and the time left.
  std::string Line(std::size_t width) const;

 private:
  std::optional<std::chrono::seconds> TimeLeft() const;

  std::string block_text_, errors_text_, address_text_, checksum_text_;
  long block_ = 0;
  long block_total_ = 0;
  long first_block_ = 0;
  TimePoint first_block_time_{};
  TimePoint last_block_time_{};
};

}  // namespace kelvo::cli
