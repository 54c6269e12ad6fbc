#include "serial/ticker.h"

#include <utility>

namespace kelvo {

Ticker::Ticker(std::vector<Clock*> clocks, SleepUntil sleep_until) : clocks_(std::move(clocks)) {
  thread_ = std::thread([this, sleep_until = std::move(sleep_until)] {
    constexpr std::chrono::milliseconds kPeriod(Clock::kTickMs);
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
      next += kPeriod;
      const TimePoint woke = sleep_until(next);
      // After a stop (Ctrl-Z) or a starved spell, the ticks missed would come in a burst that
      // ends every running wait at once: the schedule goes on from the wake-up instead.
      if (woke - next > kPeriod) next = woke;
      for (Clock* clock : clocks_) clock->Tick();
    }
  });
}

Ticker::~Ticker() {
  stop_.store(true);
  thread_.join();
}

Ticker::TimePoint Ticker::SleepUntilDeadline(TimePoint deadline) {
  std::this_thread::sleep_until(deadline);
  return std::chrono::steady_clock::now();
}

}  // namespace kelvo
