// The port on a modelled 9600-baud UART (ModelledUart stands in for the system's driver of real
// hardware): the timing and the RTS line that a pseudo-terminal cannot show.
#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <vector>

#include "serial/serial_port.h"
#include "simulator/pseudo_terminal.h"
#include "support/modelled_uart.h"

namespace kelvo {
namespace {

using std::chrono::milliseconds;
using testing::ModelledUart;
using SteadyClock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

struct UartLine {
  explicit UartLine(ModelledUart::Options options = {})
      : uart(options), port(OpenLoaderPort(line.SlavePath(), uart)) {}
  PseudoTerminal line;
  ModelledUart uart;
  SerialPort port;
};

TEST(PortOnAUart, AWriteLastsUntilItsBytesHaveLeftAndRaisesRtsOnlyMeanwhile) {
  UartLine line;
  ASSERT_TRUE(line.port.IsOpen());
  ASSERT_EQ(line.uart.RtsChanges().size(), 1u);
  EXPECT_FALSE(line.uart.RtsChanges()[0].raised) << "RTS left up after the open";

  const Bytes packet(132, 0x55);
  const auto start = SteadyClock::now();
  EXPECT_EQ(line.port.Write(packet), packet.size());
  const auto returned = SteadyClock::now();

  const auto left = line.uart.Departures();
  EXPECT_GE(returned, left.back()) << "returned before the line was empty";
  EXPECT_GE(returned - start, milliseconds(137));  // 132 bytes of 10 bits at 9600 baud
  const auto rts = line.uart.RtsChanges();
  ASSERT_EQ(rts.size(), 3u);
  EXPECT_TRUE(rts[1].raised);
  EXPECT_LE(rts[1].at, line.uart.Written().front()) << "raised after the first byte";
  EXPECT_FALSE(rts[2].raised);
  EXPECT_GE(rts[2].at, left.back()) << "dropped before the last byte had left";
}

TEST(PortOnAUart, AWriteToALineThatStopsGivesUpAtItsLimitWithTheCountThatLeft) {
  UartLine line({.stall_after = 1});
  const Bytes two = {0x04, 0x04};
  const auto start = SteadyClock::now();
  EXPECT_EQ(line.port.Write(two), 1u);
  const auto waited = SteadyClock::now() - start;
  EXPECT_GE(waited, milliseconds(300));  // 100 ms a byte and 100 ms
  EXPECT_LT(waited, milliseconds(2000));
  EXPECT_EQ(line.uart.Unsent(-1), 0u) << "what did not leave still goes out later";
  EXPECT_FALSE(line.uart.RtsChanges().back().raised);
}

// A USB adapter holds bytes that it reports sent; they still leave at 9600 baud before the old
// settings return.
TEST(PortOnAUart, WhereTheDriverTakesRs485ModeItSwitchesRtsAndCloseRestoresTheModeAndTheLine) {
  serial_rs485 previous{};
  previous.flags = SER_RS485_RTS_AFTER_SEND;
  previous.delay_rts_after_send = 20;
  UartLine line({.rs485 = previous, .adapter_buffer = 64});
  ASSERT_TRUE(line.port.IsOpen());
  const serial_rs485 mode = line.uart.Rs485();
  EXPECT_EQ(mode.flags & (SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND),
            static_cast<__u32>(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND));
  EXPECT_EQ(mode.delay_rts_after_send, 0u);
  EXPECT_EQ(line.port.Write(Bytes(64, 0x05)), 64u);
  EXPECT_TRUE(line.uart.RtsChanges().empty()) << "the port switched RTS as well";
  line.port.Close();
  EXPECT_EQ(line.uart.Rs485().flags, previous.flags);
  EXPECT_EQ(line.uart.Rs485().delay_rts_after_send, previous.delay_rts_after_send);
  EXPECT_TRUE(line.uart.SettingsRestored()) << "not restored after the line had drained";
  termios after{};
  ASSERT_EQ(::tcgetattr(line.line.MasterFd(), &after), 0);
  EXPECT_NE(::cfgetospeed(&after), static_cast<speed_t>(B9600))
      << "the old settings did not return";
}

}  // namespace
}  // namespace kelvo
