#include "progress_line.h"

#include <algorithm>
#include <cstdio>

namespace kelvo::cli {

void ProgressMeter::SetField(Control field, const std::string& text, TimePoint now) {
  switch (field) {
    case Control::BlockField: {
      block_text_ = text;
      long block = 0;
      long total = 0;
      if (std::sscanf(text.c_str(), "%ld / %ld", &block, &total) != 2) return;
      if (total != block_total_ || block < block_) {
        first_block_ = block;
        first_block_time_ = now;
      }
      block_ = block;
      block_total_ = total;
      last_block_time_ = now;
      return;
    }
    case Control::ErrorsField:
      errors_text_ = text;
      return;
    case Control::AddressField:
      address_text_ = text;
      return;
    case Control::ChecksumField:
      checksum_text_ = text;
      return;
    default:
      return;
  }
}

// From the pace of the blocks so far; unknown until two have gone.
std::optional<std::chrono::seconds> ProgressMeter::TimeLeft() const {
  const long done = block_ - first_block_;
  if (done <= 0) return std::nullopt;
  const auto per_block = (last_block_time_ - first_block_time_) / done;
  return std::chrono::ceil<std::chrono::seconds>(per_block * (block_total_ - block_));
}

std::string ProgressMeter::Line(std::size_t width) const {
  const long percent = block_total_ > 0 ? std::clamp(block_ * 100 / block_total_, 0L, 100L) : 0;
  char left[32] = "--:-- left";
  if (const auto seconds = TimeLeft()) {
    std::snprintf(left, sizeof left, "%ld:%02ld left", static_cast<long>(seconds->count() / 60),
                  static_cast<long>(seconds->count() % 60));
  }
  char tail[160];
  std::snprintf(tail, sizeof tail, " %3ld%%  block %s  errors %s  address %s  sum %s  %s", percent,
                block_text_.c_str(), errors_text_.c_str(), address_text_.c_str(),
                checksum_text_.c_str(), left);
  const std::string text = tail;

  // The bar takes what room the terminal leaves, within reason.
  const std::size_t bar_width =
      std::clamp<std::size_t>(width > text.size() + 3 ? width - text.size() - 3 : 0, 10, 40);
  const std::size_t filled = bar_width * static_cast<std::size_t>(percent) / 100;
  std::string line = "[";
  line.append(filled, '#').append(bar_width - filled, '-').append("]").append(text);
  if (line.size() >= width) line.resize(width > 0 ? width - 1 : 0);
  return line;
}

}  // namespace kelvo::cli
