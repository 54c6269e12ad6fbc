#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/form_model.h"

namespace kelvo {

// How a system draws the log's text: the height of a line, the width of a piece of one, and how
// many bytes the character that a piece starts with takes (1 in a code page, up to 4 in UTF-8).
class TextMetrics {
 public:
  virtual int LineHeight() const = 0;
  virtual int Width(std::string_view piece) const = 0;
  virtual std::size_t CharacterLength(std::string_view piece) const = 0;

 protected:
  ~TextMetrics() = default;
};

// The log pane of both windows but for its drawing: the text as the window has taken it from the
// form, indexed by line so that a line costs the same however long the log grows; the operator's
// selection, from its fixed end (the anchor) to the caret; and the part in view, which follows
// the caret. Offsets count the text's bytes; lines end in CR LF, which no line's text includes.
// Pixels across count from the left edge of the text, down from the top of the first line in view.
class LogLayout {
 public:
  explicit LogLayout(const TextMetrics& metrics) : metrics_(metrics) {}

  // The view: how many whole lines it shows (at least one) and how wide the text may run.
  void Resize(std::size_t lines_in_view, int width);

  // The log as the form changed it: the text started afresh or added to, the caret where the
  // form has it, any selection given up, and the caret scrolled into view.
  void Apply(const LogChanges& changes);

  const std::string& Text() const { return text_; }
  std::size_t LineCount() const { return line_starts_.size(); }
  std::size_t LineStart(std::size_t line) const { return line_starts_[line]; }
  std::string_view Line(std::size_t line) const;
  std::size_t LineOf(std::size_t offset) const;
  int XOf(std::size_t offset) const;

  std::size_t Anchor() const { return anchor_; }
  std::size_t Caret() const { return caret_; }
  std::size_t SelectionBegin() const { return std::min(anchor_, caret_); }
  std::size_t SelectionEnd() const { return std::max(anchor_, caret_); }
  std::string_view Selected() const;
  // The anchor stays where it is when extending, else comes with the caret.
  void MoveCaret(std::size_t offset, bool extend);
  void SelectAll();

  std::size_t Top() const { return top_; }  // the first line in view
  int Left() const { return left_; }        // pixels scrolled across
  std::size_t LinesInView() const { return lines_in_view_; }
  // Puts line top first in view, or as near as the text allows.
  void ScrollTo(std::ptrdiff_t top);
  // Scrolls as little as brings the caret's line, and its place across, into view.
  void FollowCaret();

  // The character boundary nearest to a point in view.
  std::size_t OffsetAt(int x, int y) const;
  // The character boundary of line nearest to x.
  std::size_t OffsetIn(std::size_t line, int x) const;

 private:
  const TextMetrics& metrics_;
  std::string text_;
  std::vector<std::size_t> line_starts_{0};
  std::size_t anchor_ = 0, caret_ = 0;
  std::size_t top_ = 0;
  int left_ = 0;
  std::size_t lines_in_view_ = 1;
  int width_ = 0;
};

}  // namespace kelvo
