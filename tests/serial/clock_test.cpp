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

TEST(Clock, AdvancesFiftyPerTickAndResets) {
  Clock clock;
  EXPECT_EQ(clock.TickCount(), 0u);
  clock.Tick();
  clock.Tick();
  EXPECT_EQ(clock.TickCount(), 100u);
  clock.Reset();
  EXPECT_EQ(clock.TickCount(), 0u);
}

TEST(Clock, WrapsModuloTwoToThe32) {
  Clock clock(0xFFFFFFFFu - 49);
  clock.Tick();
  EXPECT_EQ(clock.TickCount(), 0u);
}

TEST(Clock, DelayEndsAtTheTickThatReachesItsTarget) {
  struct Case {
    std::uint32_t ms;
    int ticks;
  };
  for (const Case c : {Case{0, 0}, Case{1, 1}, Case{50, 1}, Case{51, 2}, Case{150, 3}, Case{200, 4},
                       Case{10000, 200}}) {
    Clock clock;
    EXPECT_EQ(TicksUntilDelayEnds(clock, c.ms), c.ticks) << c.ms << " ms";
  }
}

TEST(Clock, DelayOfAWrappedTargetReturnsAtOnce) {
  Clock clock(0xFFFFFFFFu - 99);  // 100 ms before the wrap
  EXPECT_EQ(TicksUntilDelayEnds(clock, 100), 0);
  EXPECT_EQ(TicksUntilDelayEnds(clock, 150), 0);
  Clock below_wrap(0xFFFFFFFFu - 149);
  EXPECT_EQ(TicksUntilDelayEnds(below_wrap, 100), 2);  // target just below the wrap
}

TEST(Clock, DelayStartedMidTickCountsFromItsCall) {
  Clock clock;
  clock.Tick();  // 50
  EXPECT_EQ(TicksUntilDelayEnds(clock, 100), 2);
  EXPECT_EQ(clock.TickCount(), 150u);
}

}  // namespace
}  // namespace kelvo
