#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kelvo::cli {

// Where the transfers of one run write: the log to log_stream, advice for the operator to
// note_stream, and there too, when live_rows says it is a terminal, one live row per transfer,
// kept below the log and redrawn in place, as many as the screen has room for and then a count
// of the others. Safe to call from every transfer's thread; each call's text comes out whole.
class ConsoleBoard {
 public:
  ConsoleBoard(std::FILE* log_stream, std::FILE* note_stream, bool live_rows, std::size_t rows);

  bool ShowsProgress() const { return terminal_ != nullptr; }
  std::size_t Width() const;  // of the terminal, in columns

  // Log text: a piece of a line or whole lines.
  void Print(const std::string& text);
  // Advice: whole lines, which never go into the log.
  void Note(const std::string& text);
  // A row's new text (empty: not shown). It is drawn at once when now is set, else at the next
  // redraw, which comes often enough for the eye.
  void SetRow(std::size_t row, std::string text, bool now);
  // Takes the rows off the terminal, once the transfers are over.
  void ClearRows();

 private:
  void Erase();
  void Draw();
  void DrawRow(const std::string& text, std::size_t width);

  std::mutex mutex_;
  std::FILE* log_stream_;
  std::FILE* note_stream_;
  std::FILE* terminal_;  // the note stream when the rows are live
  // Each stream that is a terminal gets control bytes shown, not obeyed; a file keeps them.
  bool log_shown_;
  bool notes_shown_;
  std::vector<std::string> rows_;
  bool line_open_ = false;  // the log's last line is not finished yet
  std::size_t rows_shown_ = 0;
  std::chrono::steady_clock::time_point last_drawn_{};
};

}  // namespace kelvo::cli
