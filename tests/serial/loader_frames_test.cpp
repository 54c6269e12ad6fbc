#include "serial/loader_frames.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <vector>

#include "serial/serial_port.h"
#include "simulator/pseudo_terminal.h"
#include "support/fast_ticker.h"
#include "support/watched_form.h"
#include "transfer/shared_state.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint8_t, kBlockSize>;
constexpr auto kWait = std::chrono::milliseconds(2000);

// A pseudo-terminal whose program end is opened as the loader port; the test plays the device.
struct Line {
  Line() { EXPECT_TRUE(port.IsOpen()); }
  PseudoTerminal device;
  SerialPort port = OpenLoaderPort(device.SlavePath());
  SharedState shared;
  testing::WatchedForm form;
};

Block Filled(std::uint8_t value) {
  Block block;
  block.fill(value);
  return block;
}

Bytes ReplyEndingIn(std::uint8_t last) {
  Bytes reply(kPacketReplySize, 0x55);
  reply.back() = last;
  return reply;
}

TEST(SendBlock, WritesTheExactPacketAndJudgesTheReplyByItsCountAndLastByte) {
  Block counting;  // sums to 8128 = 31 * 256 + 0xC0
  std::iota(counting.begin(), counting.end(), std::uint8_t{0});
  Bytes ack_inside = ReplyEndingIn(0x00);
  ack_inside[0] = ack_inside[131] = kAck;
  const std::string incomplete = "Incomplete Response from ZARQ (Block ";
  struct Case {
    const char* what;
    std::uint8_t number, complement;
    Block data;
    std::uint8_t checksum;
    Bytes reply;
    bool accepted;
    std::string log;
    std::uint16_t delay = 0;  // the response delay, waited for in full between write and read
  };
  const Case cases[] = {
      {"full reply ending in ACK", 0, 0xFF, counting, 0xC0, ReplyEndingIn(kAck), true, "", 50},
      {"full reply ending in NAK", 1, 0xFE, Filled(0xFF), 0x80, ReplyEndingIn(kNak), false, ""},
      {"ACK inside, other byte last", 255, 0x00, Filled(0x00), 0x00, ack_inside, false, ""},
      {"lone ACK", 7, 0xF8, Filled(0x11), 0x80, {kAck}, true, incomplete + "7, 1 Bytes)\r\n"},
      {"short reply ending in NAK", 200, 0x37, Filled(0x03), 0x80, Bytes(40, kNak), false,
       incomplete + "200, 40 Bytes)\r\n"},
      {"no reply", 7, 0xF8, Filled(0x11), 0x80, {}, false, incomplete + "7, 0 Bytes)\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Line line;
    ASSERT_TRUE(line.device.Write(c.reply));
    line.shared.ResponseDelay.store(c.delay);
    {
      testing::FastTicker ticker(line.shared.clock);
      EXPECT_EQ(SendBlock(line.port, line.shared.clock, line.shared.ResponseDelay, line.form,
                          c.number, c.data),
                c.accepted);
    }
    EXPECT_EQ(line.shared.clock.TickCount(), c.delay);
    EXPECT_EQ(line.form.Log(), c.log);
    Bytes packet(c.data.begin(), c.data.end());
    packet.insert(packet.begin(), {kSoh, c.number, c.complement});
    packet.push_back(c.checksum);
    EXPECT_EQ(line.device.ReadAvailable(kWait), packet);
  }
}

TEST(SendBlock, AFailedWriteGivesFalseWithoutDelayOrLogLine) {
  Line line;
  line.device.Close();
  line.shared.ResponseDelay.store(100);  // would hang here if it were waited for: no ticker runs
  EXPECT_FALSE(SendBlock(line.port, line.shared.clock, line.shared.ResponseDelay, line.form, 1,
                         Filled(0x00)));
  EXPECT_EQ(line.form.Log(), "");
  EXPECT_EQ(line.shared.clock.TickCount(), 0u);
}

TEST(SendCommand, WritesTheFrameAndAcceptsOnlyAnAckInTime) {
  struct Case {
    const char* what;
    std::uint8_t code;
    std::uint16_t argument;
    Bytes frame, reply;
    bool accepted;
  };
  constexpr std::uint8_t kA = SetAddressCommand, kE = EraseCommand;
  const Case cases[] = {
      {"address acknowledged", kA, 0x2000, {0x05, 0x41, 0xBE, 0x00, 0x20}, {kAck}, true},
      {"erase refused", kE, 0x4000, {0x05, 0x45, 0xBA, 0x00, 0x40}, {kNak}, false},
      {"stray byte, then silence", kA, 0xABCD, {0x05, 0x41, 0xBE, 0xCD, 0xAB}, {'x'}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Line line;
    ASSERT_TRUE(line.device.Write(c.reply));
    testing::FastTicker ticker(line.shared.clock);
    EXPECT_EQ(SendCommand(line.port, line.shared.clock, c.code, c.argument), c.accepted);
    EXPECT_EQ(line.device.ReadAvailable(kWait), c.frame);
    // An ACK or NAK ends the wait at once; anything else only at the time-out.
    const bool answered = !c.reply.empty() && (c.reply.back() == kAck || c.reply.back() == kNak);
    EXPECT_EQ(line.shared.clock.TickCount() >= kCommandReplyTimeoutMs, !answered);
  }
}

}  // namespace
}  // namespace kelvo
