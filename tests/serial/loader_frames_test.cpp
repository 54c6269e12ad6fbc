#include "serial/loader_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <thread>
#include <vector>

#include "serial/serial_port.h"
#include "simulator/pseudo_terminal.h"
#include "support/fast_ticker.h"
#include "transfer/memory_form.h"
#include "transfer/shared_state.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint8_t, kBlockSize>;
constexpr auto kWait = std::chrono::milliseconds(2000);

// A pseudo-terminal whose program end is opened as the loader port; the test plays the device.
struct Line {
  PseudoTerminal device;
  SerialPort port = OpenLoaderPort(device.SlavePath());
};

Block Filled(std::uint8_t value) {
  Block block;
  block.fill(value);
  return block;
}

Block Counting() {
  Block block;
  std::iota(block.begin(), block.end(), std::uint8_t{0});
  return block;
}

Bytes ReplyEndingIn(std::uint8_t last) {
  Bytes reply(kPacketReplySize, 0x55);
  reply.back() = last;
  return reply;
}

TEST(BlockChecksum, IsTheSumOfTheBytesModulo256) {
  EXPECT_EQ(BlockChecksum(Filled(0xFF)), 0x80);
  EXPECT_EQ(BlockChecksum(Filled(0x00)), 0x00);
  EXPECT_EQ(BlockChecksum(Counting()), 0xC0);  // 0 + 1 + ... + 127 = 8128 = 31 * 256 + 192
}

TEST(SendBlock, WritesSohNumberComplementDataAndChecksum) {
  struct Case {
    std::uint8_t number;
    std::uint8_t complement;
    Block data;
    std::uint8_t checksum;
  };
  for (const Case& c : {Case{0, 0xFF, Counting(), 0xC0}, Case{1, 0xFE, Filled(0xFF), 0x80},
                        Case{255, 0x00, Filled(0x00), 0x00}}) {
    Line line;
    ASSERT_TRUE(line.port.IsOpen());
    ASSERT_TRUE(line.device.Write(ReplyEndingIn(kAck)));
    SharedState shared;
    MemoryForm form;
    EXPECT_TRUE(SendBlock(line.port, shared, form, c.number, c.data));

    Bytes expected(kDataPacketSize);
    expected[0] = kSoh;
    expected[1] = c.number;
    expected[2] = c.complement;
    std::copy(c.data.begin(), c.data.end(), expected.begin() + 3);
    expected[131] = c.checksum;
    EXPECT_EQ(line.device.ReadAvailable(kWait), expected) << "block " << int{c.number};
  }
}

TEST(SendBlock, JudgesTheReplyByItsCountAndLastByte) {
  Bytes ack_inside = ReplyEndingIn(0x00);
  ack_inside[0] = kAck;
  ack_inside[131] = kAck;
  struct Case {
    const char* what;
    Bytes reply;
    bool accepted;
    std::string log;
  };
  const Case cases[] = {
      {"full reply ending in ACK", ReplyEndingIn(kAck), true, ""},
      {"full reply ending in NAK", ReplyEndingIn(kNak), false, ""},
      {"ACK inside, other byte last", ack_inside, false, ""},
      {"lone ACK", {kAck}, true, "Incomplete Response from ZARQ (Block 7, 1 Bytes)\r\n"},
      {"short reply ending in NAK", Bytes(40, kNak), false,
       "Incomplete Response from ZARQ (Block 7, 40 Bytes)\r\n"},
      {"no reply", {}, false, "Incomplete Response from ZARQ (Block 7, 0 Bytes)\r\n"},
  };
  for (const Case& c : cases) {
    Line line;
    ASSERT_TRUE(line.port.IsOpen());
    if (!c.reply.empty()) {
      ASSERT_TRUE(line.device.Write(c.reply));
    }
    SharedState shared;
    MemoryForm form;
    EXPECT_EQ(SendBlock(line.port, shared, form, 7, Filled(0x11)), c.accepted) << c.what;
    EXPECT_EQ(form.Log(), c.log) << c.what;
  }
}

TEST(SendBlock, ReadsTheReplyOnlyAfterTheResponseDelay) {
  Line line;
  ASSERT_TRUE(line.port.IsOpen());
  SharedState shared;
  shared.ResponseDelay.store(50);
  MemoryForm form;
  bool accepted = false;
  std::thread sender([&] { accepted = SendBlock(line.port, shared, form, 3, Filled(0x22)); });

  // The packet is out and the sender sleeps on the clock; a reply sent only now, long after a
  // read started at once would have given up, must still be taken whole.
  EXPECT_EQ(line.device.ReadExactly(kDataPacketSize, kWait).size(), kDataPacketSize);
  ASSERT_TRUE(shared.clock.AwaitSleeper(kWait));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(line.device.Write(ReplyEndingIn(kAck)));
  shared.clock.Tick();
  sender.join();

  EXPECT_TRUE(accepted);
  EXPECT_EQ(form.Log(), "");
  EXPECT_EQ(shared.clock.TickCount(), 50u);
}

TEST(SendBlock, AFailedWriteGivesFalseWithoutDelayOrLogLine) {
  Line line;
  ASSERT_TRUE(line.port.IsOpen());
  line.device.Close();
  SharedState shared;
  shared.ResponseDelay.store(100);  // would hang here if it were waited for: no ticker runs
  MemoryForm form;
  EXPECT_FALSE(SendBlock(line.port, shared, form, 1, Filled(0x00)));
  EXPECT_EQ(form.Log(), "");
  EXPECT_EQ(shared.clock.TickCount(), 0u);
}

TEST(SendCommand, WritesTheFrameAndAcceptsOnlyAnAckInTime) {
  struct Case {
    const char* what;
    std::uint8_t code;
    std::uint16_t argument;
    Bytes frame;
    Bytes reply;
    bool accepted;
  };
  const Case cases[] = {
      {"address acknowledged",
       SetAddressCommand,
       0x2000,
       {0x05, 0x41, 0xBE, 0x00, 0x20},
       {kAck},
       true},
      {"erase acknowledged", EraseCommand, 0x2000, {0x05, 0x45, 0xBA, 0x00, 0x20}, {kAck}, true},
      {"erase refused", EraseCommand, 0x4000, {0x05, 0x45, 0xBA, 0x00, 0x40}, {kNak}, false},
      {"noise ahead of the ACK",
       SetAddressCommand,
       0x2008,
       {0x05, 0x41, 0xBE, 0x08, 0x20},
       {'x', 0x00, 0xFF, kAck},
       true},
      {"stray byte, then silence",
       SetAddressCommand,
       0xABCD,
       {0x05, 0x41, 0xBE, 0xCD, 0xAB},
       {'x'},
       false},
      {"silence", EraseCommand, 0xFFFF, {0x05, 0x45, 0xBA, 0xFF, 0xFF}, {}, false},
  };
  for (const Case& c : cases) {
    Line line;
    ASSERT_TRUE(line.port.IsOpen());
    if (!c.reply.empty()) {
      ASSERT_TRUE(line.device.Write(c.reply));
    }
    Clock clock;
    testing::FastTicker ticker(clock);
    EXPECT_EQ(SendCommand(line.port, clock, c.code, c.argument), c.accepted) << c.what;
    EXPECT_EQ(line.device.ReadAvailable(kWait), c.frame) << c.what;
    // An ACK or NAK ends the wait at once; anything else only at the time-out.
    const bool answered = !c.reply.empty() && (c.reply.back() == kAck || c.reply.back() == kNak);
    if (answered) {
      EXPECT_LT(clock.TickCount(), 1000u) << c.what;
    } else {
      EXPECT_GE(clock.TickCount(), kCommandReplyTimeoutMs) << c.what << ": gave up early";
    }
  }
}

}  // namespace
}  // namespace kelvo
