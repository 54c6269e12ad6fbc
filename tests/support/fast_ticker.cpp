#include "support/fast_ticker.h"

namespace kelvo::testing {

FastTicker::FastTicker(Clock& clock) : clock_(clock) {
  thread_ = std::thread([this] {
    while (!stop_.load()) {
      if (clock_.AwaitSleeper(std::chrono::milliseconds(5))) clock_.Tick();
    }
  });
}

FastTicker::~FastTicker() {
  stop_.store(true);
  thread_.join();
}

PhasedTicker::PhasedTicker(Clock& clock, Phase phase) : clock_(clock), phase_(std::move(phase)) {
  thread_ = std::thread([this] {
    using SteadyClock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kPeriod(Clock::kTickMs);
    SteadyClock::time_point last_tick{};
    int waits = 0;
    while (!stop_.load()) {
      if (!clock_.AwaitSleeper(std::chrono::milliseconds(5))) continue;
      const auto now = SteadyClock::now();
      // A wait that follows a tick within a period goes on with the running timer.
      const auto next = now - last_tick >= kPeriod ? now + phase_(waits++) : last_tick + kPeriod;
      std::this_thread::sleep_until(next);
      clock_.Tick();
      last_tick = next;
    }
  });
}

PhasedTicker::~PhasedTicker() {
  stop_.store(true);
  thread_.join();
}

}  // namespace kelvo::testing
