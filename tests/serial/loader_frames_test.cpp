#include "serial/loader_frames.h"

#include <gtest/gtest.h>

#include <vector>

#include "doubles/fast_ticker.h"
#include "doubles/watched_form.h"
#include "serial/waits.h"
#include "simulator/pseudo_terminal.h"
#include "transfer/shared_state.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The test plays the device end of the port; each wait runs on a clock driven faster than real
// time. Both waits poll one byte a step: the first byte read costs nothing, each later one a
// step of 150 ms. A block's failed write is the line's loss: no delay waited for, no reply read.
TEST(LoaderFrames, WaitsEndAtAckNakOrTimeOutTellAReplyFromDataAndABlockToALostLineGivesUp) {
  enum Wait { kReply, kHandshake };
  struct Case {
    const char* what;
    Wait wait;
    Bytes sent;
    std::uint32_t timeout;
    std::uint8_t result;
    std::uint32_t steps;  // poll steps the wait took
    std::size_t unread;   // bytes it left on the line
    std::uint32_t start = 0;
  };
  const Case cases[] = {
      {"silence, 10 s: timeout over 150, rounded up", kReply, {}, 10000, 0, 67, 0},
      {"silence, one step", kReply, {}, 150, 0, 1, 0},
      {"silence, no time", kReply, {}, 0, 0, 0, 0},
      {"ACK", kReply, {kAck, 0x33}, 10000, kAck, 0, 1},
      {"noise, then ACK", kReply, {'a', 'b', 'c', 'd', 'e', kAck}, 10000, kAck, 5, 0},
      {"a stray byte, then silence", kReply, {'x'}, 1000, 0, 7, 0},
      {"a stray byte in the last read", kReply, {'x'}, 0, 'x', 0, 0},
      {"a deadline past 2^32: one read", kReply, {}, 1000, 0, 0, 0, 0xFFFFFFFFu - 99},
      {"a lone NAK, one step more to see nothing follows", kHandshake, {kNak}, 5000, kNak, 1, 0},
      {"a lone ACK", kHandshake, {kAck}, 5000, kAck, 1, 0},
      {"NAK, then data", kHandshake, {kNak, 0x00}, 5000, 0xFF, 1, 0},
      {"NAK, NAK", kHandshake, {kNak, kNak}, 5000, 0xFF, 1, 0},
      {"noise, then NAK", kHandshake, {'a', 'b', kNak}, 5000, kNak, 3, 0},
      {"silence", kHandshake, {}, 5000, 0, 34, 0},
      {"a lone 00 in the last read reads as silence", kHandshake, {0x00}, 0, 0x00, 1, 0},
      {"a lone FF in the last read as a stream", kHandshake, {0xFF}, 0, 0xFF, 1, 0},
  };
  PseudoTerminal line;
  SerialPort port = OpenLoaderPort(line.SlavePath());
  ASSERT_TRUE(port.IsOpen());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(line.Write(c.sent));
    Clock clock(c.start);
    {
      testing::FastTicker ticker(clock);
      EXPECT_EQ(c.wait == kReply ? AwaitReply(port, clock, c.timeout)
                                 : AwaitHandshake(port, clock, c.timeout),
                c.result);
    }
    EXPECT_EQ(clock.TickCount() - c.start, c.steps * 150);
    std::size_t unread = 0;
    std::uint8_t drain[8];
    for (std::size_t n; (n = port.Read(drain)) > 0;) unread += n;
    EXPECT_EQ(unread, c.unread);
  }

  line.Close();
  SharedState shared;
  shared.ResponseDelay.store(100);  // would hang here if it were waited for: no ticker runs
  testing::WatchedForm form;
  EXPECT_FALSE(SendBlock(port, shared.clock, shared.ResponseDelay, form, 1,
                         std::array<std::uint8_t, kBlockSize>{}));
  EXPECT_EQ(form.Log(), "");
  EXPECT_EQ(shared.clock.TickCount(), 0u);
}

}  // namespace
}  // namespace kelvo
