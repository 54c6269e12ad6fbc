#include "serial/waits.h"

#include <gtest/gtest.h>

#include <vector>

#include "serial/protocol.h"
#include "simulator/pseudo_terminal.h"
#include "support/fast_ticker.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A port whose device end the test plays, with the clock running faster than real time.
class WaitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = OpenLoaderPort(line_.SlavePath());
    ASSERT_TRUE(port_.IsOpen());
  }

  // Ticks used by the wait, in poll steps of 150 ms.
  std::uint32_t StepsTaken() const { return clock_.TickCount() / kPollStepMs; }

  PseudoTerminal line_;
  SerialPort port_;
  Clock clock_;
  testing::FastTicker ticker_{clock_};
};

TEST_F(WaitsTest, ASilentLineEndsTheWaitAfterTimeoutOver150CyclesRoundedUp) {
  const struct {
    std::uint32_t timeout;
    std::uint32_t cycles;
  } cases[] = {{10000, 67}, {5000, 34}, {1000, 7}, {150, 1}, {0, 0}};
  for (const auto& c : cases) {
    clock_.Reset();
    EXPECT_EQ(AwaitReply(port_, clock_, c.timeout), 0) << c.timeout;
    EXPECT_EQ(StepsTaken(), c.cycles) << c.timeout;
  }
}

TEST_F(WaitsTest, AwaitReplyReturnsAckOrNakAtTheFirstReadThatGetsIt) {
  for (const std::uint8_t reply : {kAck, kNak}) {
    clock_.Reset();
    ASSERT_TRUE(line_.Write(Bytes{reply, 0x33}));
    EXPECT_EQ(AwaitReply(port_, clock_, 10000), reply);
    EXPECT_EQ(StepsTaken(), 0u);
    std::uint8_t rest = 0;
    EXPECT_EQ(port_.Read({&rest, 1}), 1u);  // the byte behind the reply stays unread
  }
}

TEST_F(WaitsTest, EachStrayByteAheadOfTheAckCostsOnePollStep) {
  ASSERT_TRUE(line_.Write(Bytes{'a', 'b', 'c', 'd', 'e', kAck}));
  EXPECT_EQ(AwaitReply(port_, clock_, 10000), kAck);
  EXPECT_EQ(clock_.TickCount(), 750u);
}

TEST_F(WaitsTest, AStrayByteFollowedBySilenceGivesNothing) {
  ASSERT_TRUE(line_.Write(Bytes{'x'}));
  EXPECT_EQ(AwaitReply(port_, clock_, 1000), 0);
  EXPECT_EQ(StepsTaken(), 7u);
}

TEST_F(WaitsTest, AStrayByteInTheLastReadIsReturned) {
  // A wait whose deadline has already passed makes exactly one read.
  clock_.Reset();
  ASSERT_TRUE(line_.Write(Bytes{'x'}));
  EXPECT_EQ(AwaitReply(port_, clock_, 0), 'x');
}

TEST_F(WaitsTest, HandshakeTellsALoneReplyFromADataStream) {
  const struct {
    Bytes sent;
    std::uint8_t result;
  } cases[] = {
      {{kNak}, kNak},       {{kAck}, kAck},           {{kNak, 0x00}, 0xFF},
      {{kNak, kNak}, 0xFF}, {{'a', 'b', kNak}, kNak}, {{}, 0},
  };
  for (const auto& c : cases) {
    clock_.Reset();
    ASSERT_TRUE(line_.Write(c.sent));
    EXPECT_EQ(AwaitHandshake(port_, clock_, 5000), c.result) << ::testing::PrintToString(c.sent);
    std::uint8_t drain[8];
    while (port_.Read(drain) > 0) {
    }
  }
}

TEST_F(WaitsTest, HandshakeSpendsOneMoreStepAfterAByte) {
  ASSERT_TRUE(line_.Write(Bytes{kNak}));
  EXPECT_EQ(AwaitHandshake(port_, clock_, 5000), kNak);
  EXPECT_EQ(StepsTaken(), 1u);
  clock_.Reset();
  EXPECT_EQ(AwaitHandshake(port_, clock_, 5000), 0);
  EXPECT_EQ(StepsTaken(), 34u);
}

TEST_F(WaitsTest, ALoneZeroOrFFInTheLastReadReadsAsSilenceOrAStream) {
  for (const std::uint8_t last : {0x00, 0xFF}) {
    clock_.Reset();
    ASSERT_TRUE(line_.Write(Bytes{last}));
    EXPECT_EQ(AwaitHandshake(port_, clock_, 0), last);
  }
}

TEST_F(WaitsTest, AWrappedDeadlineEndsTheWaitAfterItsFirstRead) {
  Clock late(0xFFFFFFFFu - 99);
  EXPECT_EQ(AwaitReply(port_, late, 1000), 0);
  EXPECT_EQ(late.TickCount(), 0xFFFFFFFFu - 99);
}

}  // namespace
}  // namespace kelvo
