#include "serial/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kelvo {
namespace {

// Ticks by hand, one tick at a time and only while the Delay sleeps, and counts the ticks
// after which it returned.
int TicksUntilDelayEnds(Clock& clock, std::uint32_t ms) {
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    clock.Delay(ms);
    done.store(true);
  });
  int ticks = 0;
  for (;;) {
    while (!done.load() && !clock.AwaitSleeper(std::chrono::milliseconds(1))) {
    }
    if (done.load()) break;
    clock.Tick();
    ++ticks;
  }
  waiter.join();
  return ticks;
}

constexpr std::uint32_t kTop = 0xFFFFFFFFu;

TEST(Clock, AdvancesFiftyPerTickModuloTwoToThe32AndResets) {
  Clock clock(kTop - 49);
  clock.Tick();
  EXPECT_EQ(clock.TickCount(), 0u);
  clock.Tick();
  EXPECT_EQ(clock.TickCount(), 50u);
  clock.Reset();
  EXPECT_EQ(clock.TickCount(), 0u);
}

// Counted from the reading at the call; a target that wraps past 2^32 is reached at once.
TEST(Clock, DelayEndsAtTheTickThatReachesItsTarget) {
  struct Case {
    std::uint32_t start, ms;
    int ticks;
  };
  for (const Case c :
       {Case{0, 0, 0}, Case{0, 1, 1}, Case{0, 50, 1}, Case{0, 51, 2}, Case{50, 100, 2},
        Case{0, 200, 4}, Case{0, 10000, 200}, Case{kTop - 99, 100, 0}, Case{kTop - 99, 150, 0},
        Case{kTop - 149, 100, 2}}) {
    Clock clock(c.start);
    EXPECT_EQ(TicksUntilDelayEnds(clock, c.ms), c.ticks) << c.start << " + " << c.ms << " ms";
  }
}

}  // namespace
}  // namespace kelvo
