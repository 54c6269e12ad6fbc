#include "serial/clock.h"

#include <gtest/gtest.h>

#include "support/fast_ticker.h"

namespace kelvo {
namespace {

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

// Counted from the reading at the call; a target that wraps past 2^32 is reached at once. The
// ticker ticks only while the Delay sleeps, so the ticks taken are those it needed.
TEST(Clock, DelayEndsAtTheTickThatReachesItsTarget) {
  struct Case {
    std::uint32_t start, ms, ticks;
  };
  for (const Case c :
       {Case{0, 0, 0}, Case{0, 1, 1}, Case{0, 50, 1}, Case{0, 51, 2}, Case{50, 100, 2},
        Case{0, 200, 4}, Case{0, 10000, 200}, Case{kTop - 99, 100, 0}, Case{kTop - 99, 150, 0},
        Case{kTop - 149, 100, 2}}) {
    Clock clock(c.start);
    {
      testing::FastTicker ticker(clock);
      clock.Delay(c.ms);
    }
    EXPECT_EQ(clock.TickCount() - c.start, 50u * c.ticks) << c.start << " + " << c.ms << " ms";
  }
}

}  // namespace
}  // namespace kelvo
