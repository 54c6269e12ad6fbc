#pragma once

#include <string>
#include <string_view>

namespace kelvo::cli {

// Advice that one port's log leaves the operator to work out, each piece at most once: a
// response delay too low for the line, after 5 short replies in a row to one block; a device
// that does not answer, after 3 handshakes without a reply.
class LogHints {
 public:
  // Takes the log's next finished line; returns the advice it calls for, or "".
  std::string After(std::string_view line);

 private:
  int unanswered_ = 0;
  std::string short_block_;  // the block of the last short reply...
  int short_replies_ = 0;    // ...and how many in a row it had
  bool delay_told_ = false;
};

}  // namespace kelvo::cli
