#include "serial/clock.h"

#include <gtest/gtest.h>

#include <future>

#include "doubles/fast_ticker.h"
#include "serial/ticker.h"

namespace kelvo {
namespace {

constexpr std::uint32_t kTop = 0xFFFFFFFFu;

// A delay counts from the reading at the call; a target that wraps past 2^32 is reached at once.
// The ticker ticks only while the Delay sleeps, so the ticks taken are those it needed.
TEST(Clock, TicksFiftyModulo2To32ResetsAndADelayEndsAtTheTickThatReachesItsTarget) {
  Clock wrapping(kTop - 49);
  wrapping.Tick();
  wrapping.Tick();
  EXPECT_EQ(wrapping.TickCount(), 50u);
  wrapping.Reset();
  EXPECT_EQ(wrapping.TickCount(), 0u);
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

// After a stall of ten periods (the process stopped with Ctrl-Z), the next tick comes a period
// after the wake-up: the ticks missed never come in a burst that would end every wait at once.
TEST(Ticker, GoesOnFromAStallWithoutCatchingUp) {
  constexpr std::chrono::milliseconds kPeriod(Clock::kTickMs);
  std::vector<Ticker::TimePoint> deadlines, wakes;
  std::promise<void> recorded;
  Clock clock;
  {
    Ticker ticker({&clock}, [&](Ticker::TimePoint deadline) {
      if (wakes.size() == 6) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return deadline;
      }
      deadlines.push_back(deadline);
      wakes.push_back(deadline + (wakes.size() == 2 ? 10 * kPeriod : kPeriod * 0));
      if (wakes.size() == 6) recorded.set_value();
      return wakes.back();
    });
    recorded.get_future().wait();
  }
  for (std::size_t i = 1; i < deadlines.size(); ++i)
    EXPECT_EQ(deadlines[i] - wakes[i - 1], kPeriod) << "sleep " << i;
}

}  // namespace
}  // namespace kelvo
