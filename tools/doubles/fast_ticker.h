#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "serial/clock.h"

namespace kelvo::testing {

// Ticks the clock whenever a wait sleeps on it, so waits of seconds pass in a fraction of a
// second while every poll step, delay and read still happens in its order. A tick follows the
// one before by at least a millisecond: a wait of 10 s then lasts at least 0.2 s, time enough
// for a device on a loaded machine to answer, as it would within the 10 s on a real line.
//
// With a phase it ticks at the window timer's real rate instead, 50 ms apart. The timer runs
// whatever the waits do, so its first tick in a wait falls anywhere in the wait's first 50 ms;
// here it falls phase(n) ms in, where n counts from 0 the waits that find the clock idle.
class FastTicker {
 public:
  using Phase = std::function<std::chrono::milliseconds(int wait)>;
  explicit FastTicker(Clock& clock, Phase phase = nullptr)
      : thread_([this, &clock, phase = std::move(phase)] {
          constexpr std::chrono::milliseconds kPeriod(Clock::kTickMs);
          std::chrono::steady_clock::time_point last{};
          int waits = 0;
          while (!stop_.load()) {
            if (!clock.AwaitSleeper(std::chrono::milliseconds(5))) continue;
            const auto now = std::chrono::steady_clock::now();
            // A wait that follows a tick within a period goes on with the running timer.
            const auto next = !phase ? std::max(now, last + std::chrono::milliseconds(1))
                              : now - last >= kPeriod ? now + phase(waits++)
                                                      : last + kPeriod;
            std::this_thread::sleep_until(next);
            clock.Tick();
            last = phase ? next : std::chrono::steady_clock::now();
          }
        }) {}
  ~FastTicker() {
    stop_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kelvo::testing
