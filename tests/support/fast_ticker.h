#pragma once

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
class FastTicker {
 public:
  explicit FastTicker(Clock& clock)
      : thread_([this, &clock] {
          auto next = std::chrono::steady_clock::now();
          while (!stop_.load()) {
            if (!clock.AwaitSleeper(std::chrono::milliseconds(5))) continue;
            std::this_thread::sleep_until(next);
            clock.Tick();
            next = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
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

// Ticks the clock at the window timer's real rate, 50 ms apart, while waits sleep on it. The
// timer runs whatever the waits do, so its first tick in a wait falls anywhere in the wait's
// first 50 ms; here it falls phase(n) ms in, where n counts from 0 the waits that find the clock
// idle. Phase 0 gives each wait the shortest length the clock allows, 50 the longest.
class PhasedTicker {
 public:
  using Phase = std::function<std::chrono::milliseconds(int wait)>;
  PhasedTicker(Clock& clock, Phase phase)
      : thread_([this, &clock, phase = std::move(phase)] {
          using SteadyClock = std::chrono::steady_clock;
          constexpr std::chrono::milliseconds kPeriod(Clock::kTickMs);
          SteadyClock::time_point last_tick{};
          int waits = 0;
          while (!stop_.load()) {
            if (!clock.AwaitSleeper(std::chrono::milliseconds(5))) continue;
            const auto now = SteadyClock::now();
            // A wait that follows a tick within a period goes on with the running timer.
            const auto next =
                now - last_tick >= kPeriod ? now + phase(waits++) : last_tick + kPeriod;
            std::this_thread::sleep_until(next);
            clock.Tick();
            last_tick = next;
          }
        }) {}
  ~PhasedTicker() {
    stop_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kelvo::testing
