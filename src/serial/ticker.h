#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "serial/clock.h"

namespace kelvo {

// Drives clocks from a thread of its own at real speed, one tick every 50 ms on absolute
// deadlines so that late wake-ups do not accumulate. Stops when destroyed.
class Ticker {
 public:
  explicit Ticker(Clock& clock) : Ticker(std::vector<Clock*>{&clock}) {}
  // Several transfers at once keep one time.
  explicit Ticker(std::vector<Clock*> clocks);
  ~Ticker();
  Ticker(const Ticker&) = delete;
  Ticker& operator=(const Ticker&) = delete;

 private:
  std::vector<Clock*> clocks_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kelvo
