#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "serial/clock.h"

namespace kelvo {

// Drives clocks from a thread of its own at real speed, one tick every 50 ms on absolute
// deadlines so that late wake-ups do not accumulate; a wake-up more than a period late (a
// stopped process) drops the ticks missed. Stops when destroyed.
class Ticker {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  // Sleeps until the deadline; returns when it woke.
  using SleepUntil = std::function<TimePoint(TimePoint deadline)>;

  explicit Ticker(Clock& clock) : Ticker(std::vector<Clock*>{&clock}) {}
  // Several transfers at once keep one time. A test may sleep in the system's place.
  explicit Ticker(std::vector<Clock*> clocks, SleepUntil sleep_until = SleepUntilDeadline);
  ~Ticker();
  Ticker(const Ticker&) = delete;
  Ticker& operator=(const Ticker&) = delete;

 private:
  static TimePoint SleepUntilDeadline(TimePoint deadline);

  std::vector<Clock*> clocks_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kelvo
