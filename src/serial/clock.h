#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kelvo {

// The program's only clock: milliseconds that advance by 50 each time the owner ticks it
// (the window's 50 ms timer, the command line's ticker thread, or a test by hand). It counts
// ticks, not elapsed time, and wraps modulo 2^32.
class Clock {
 public:
  static constexpr std::uint32_t kTickMs = 50;

  explicit Clock(std::uint32_t start = 0) : count_(start) {}

  std::uint32_t TickCount() const { return count_.load(); }

  void Reset();
  void Tick();

  // Returns once TickCount has reached its value at the call plus ms (unsigned comparison, so
  // a target that wraps past 2^32 returns at once). Sleeps between ticks instead of spinning.
  void Delay(std::uint32_t ms);

  // True once some thread sleeps in Delay having seen the latest tick: a driver that ticks on
  // this runs the waits faster than real time without ever skipping a tick.
  bool AwaitSleeper(std::chrono::milliseconds limit);

 private:
  std::atomic<std::uint32_t> count_{0};
  // A condition variable rather than std::atomic::wait: the latter loses wake-ups with the
  // MinGW runtime that a Windows build would use.
  std::mutex mutex_;
  std::condition_variable ticked_;
  std::condition_variable sleeping_;
  std::uint64_t generation_ = 0;
  int sleepers_ = 0;
};

}  // namespace kelvo
