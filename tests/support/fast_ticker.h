#pragma once

#include <atomic>
#include <thread>

#include "serial/clock.h"

namespace kelvo::testing {

// Ticks the clock whenever a wait sleeps on it, so waits of seconds pass in a few milliseconds
// while every poll step, delay and read still happens in its order.
class FastTicker {
 public:
  explicit FastTicker(Clock& clock);
  ~FastTicker();

 private:
  Clock& clock_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kelvo::testing
