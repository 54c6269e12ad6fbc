#pragma once

#include <string>

namespace kelvo {

// Where the serial layer reports what the operator should read: a transfer's log, one line at a
// time.
class LineLog {
 public:
  virtual ~LineLog() = default;
  virtual void LogLine(const std::string& text) = 0;
};

}  // namespace kelvo
