#include "window/log_layout.h"

#include <algorithm>

namespace kelvo {

void LogLayout::Resize(std::size_t lines_in_view, int width) {
  lines_in_view_ = std::max<std::size_t>(1, lines_in_view);
  width_ = width;
  ScrollTo(static_cast<std::ptrdiff_t>(top_));
}

void LogLayout::Apply(const LogChanges& changes) {
  if (changes.restarted) {
    text_.clear();
    line_starts_.assign(1, 0);
    top_ = 0;
  }
  const std::size_t indexed = text_.size();
  text_ += changes.added;
  for (std::size_t i = indexed; i < text_.size(); ++i) {
    if (text_[i] == '\n') line_starts_.push_back(i + 1);
  }
  anchor_ = caret_ = std::min(changes.caret, text_.size());
  FollowCaret();
}

std::string_view LogLayout::Line(std::size_t line) const {
  const std::size_t start = line_starts_[line];
  std::size_t end = line + 1 < line_starts_.size() ? line_starts_[line + 1] : text_.size();
  while (end > start && (text_[end - 1] == '\n' || text_[end - 1] == '\r')) --end;
  return std::string_view(text_).substr(start, end - start);
}

std::size_t LogLayout::LineOf(std::size_t offset) const {
  return static_cast<std::size_t>(
             std::upper_bound(line_starts_.begin(), line_starts_.end(), offset) -
             line_starts_.begin()) -
         1;
}

int LogLayout::XOf(std::size_t offset) const {
  const std::size_t line = LineOf(offset);
  const std::string_view text = Line(line);
  return metrics_.Width(text.substr(0, std::min(offset - line_starts_[line], text.size())));
}

std::string_view LogLayout::Selected() const {
  return std::string_view(text_).substr(SelectionBegin(), SelectionEnd() - SelectionBegin());
}

void LogLayout::MoveCaret(std::size_t offset, bool extend) {
  caret_ = std::min(offset, text_.size());
  if (!extend) anchor_ = caret_;
}

void LogLayout::SelectAll() {
  anchor_ = 0;
  caret_ = text_.size();
}

void LogLayout::ScrollTo(std::ptrdiff_t top) {
  const auto last = static_cast<std::ptrdiff_t>(line_starts_.size()) -
                    static_cast<std::ptrdiff_t>(lines_in_view_);
  top_ = static_cast<std::size_t>(
      std::clamp<std::ptrdiff_t>(top, 0, std::max<std::ptrdiff_t>(0, last)));
}

void LogLayout::FollowCaret() {
  const std::size_t line = LineOf(caret_);
  std::size_t top = top_;
  if (line < top) top = line;
  if (line >= top + lines_in_view_) top = line + 1 - lines_in_view_;
  ScrollTo(static_cast<std::ptrdiff_t>(top));
  const int x = XOf(caret_);
  if (x < left_) left_ = x;
  if (x > left_ + width_) left_ = x - width_;
}

std::size_t LogLayout::OffsetAt(int x, int y) const {
  const std::size_t line =
      std::min(line_starts_.size() - 1,
               top_ + static_cast<std::size_t>(std::max(0, y) / metrics_.LineHeight()));
  return OffsetIn(line, x + left_);
}

std::size_t LogLayout::OffsetIn(std::size_t line, int x) const {
  const std::string_view text = Line(line);
  std::vector<std::size_t> boundaries{0};
  for (std::size_t at = 0; at < text.size();) {
    at = std::min(text.size(),
                  at + std::max<std::size_t>(1, metrics_.CharacterLength(text.substr(at))));
    boundaries.push_back(at);
  }
  const auto width = [&](std::size_t boundary) {
    return metrics_.Width(text.substr(0, boundaries[boundary]));
  };
  // The first boundary past x, found by halving, as widths grow along the line; then whichever of
  // it and the one before is nearer, the one before on a tie.
  std::size_t low = 0, high = boundaries.size();
  while (low < high) {
    const std::size_t middle = (low + high) / 2;
    if (width(middle) <= x) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  std::size_t nearest = low == 0 ? 0 : low - 1;
  if (low > 0 && low < boundaries.size() && width(low) - x < x - width(low - 1)) nearest = low;
  return line_starts_[line] + boundaries[nearest];
}

}  // namespace kelvo
