#include "serial/clock.h"

namespace kelvo {

void Clock::Reset() {
  {
    std::lock_guard lock(mutex_);
    count_.store(0);
    ++generation_;
    sleepers_ = 0;
  }
  ticked_.notify_all();
}

void Clock::Tick() {
  {
    std::lock_guard lock(mutex_);
    count_.fetch_add(kTickMs);
    ++generation_;
    sleepers_ = 0;  // every sleeper wakes and counts itself again if it must go on waiting
  }
  ticked_.notify_all();
}

void Clock::Delay(std::uint32_t ms) {
  const std::uint32_t target = count_.load() + ms;
  std::unique_lock lock(mutex_);
  while (count_.load() < target) {
    const std::uint64_t seen = generation_;
    ++sleepers_;
    sleeping_.notify_all();
    ticked_.wait(lock, [&] { return generation_ != seen; });
  }
}

bool Clock::AwaitSleeper(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return sleeping_.wait_for(lock, limit, [&] { return sleepers_ > 0; });
}

}  // namespace kelvo
