#pragma once

#include <atomic>
#include <thread>

#include "serial/clock.h"

namespace kelvo {

// Drives a Clock from a thread of its own at real speed, one tick every 50 ms on absolute
// deadlines so that late wake-ups do not accumulate. Stops when destroyed.
class Ticker {
 public:
  explicit Ticker(Clock& clock);
  ~Ticker();
  Ticker(const Ticker&) = delete;
  Ticker& operator=(const Ticker&) = delete;

 private:
  Clock& clock_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kelvo
