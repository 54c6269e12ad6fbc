// The port's promises (serial_port.h), held against every kind of driver it meets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "serial/protocol.h"
#include "serial/serial_port.h"
#include "simulator/pseudo_terminal.h"
#include "support/line_doubles.h"

namespace kelvo {
namespace {

using std::chrono::milliseconds;
using testing::Driver;
using SteadyClock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Upper bounds allow this many ms for a loaded test machine; the faults they catch are larger.
constexpr double kLate = 30;

template <typename Duration>
double Ms(Duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Personality {
  const char* name;
  std::optional<Driver> driver;  // none: the pseudo-terminal itself, as the system drives it
};

// A port on a pseudo-terminal whose device end the test plays, through the personality's driver.
class PortContract : public ::testing::TestWithParam<Personality> {
 protected:
  void SetUp() override { ASSERT_TRUE(port.IsOpen()); }
  bool Paced() const { return driver && GetParam().driver != Driver::kCdcAcm; }

  PseudoTerminal terminal;
  std::unique_ptr<testing::LineDouble> driver =
      GetParam().driver ? std::make_unique<testing::LineDouble>(*GetParam().driver) : nullptr;
  SerialPort port = OpenLoaderPort(terminal.SlavePath(), driver ? *driver : SystemLineDriver());
};

// Ten bytes asked for: five come at once and five 6 ms later, then three alone; then the device
// vanishes.
TEST_P(PortContract, AReadEndsAsSoonAsItsBytesHaveComeElseAtItsLimitAndFindsAVanishedDevice) {
  Bytes got(10);
  ASSERT_TRUE(terminal.Write(Bytes(5, 0x55)));
  auto start = SteadyClock::now();
  SteadyClock::time_point sent{};
  std::thread late([&] {
    std::this_thread::sleep_until(start + milliseconds(6));
    terminal.Write(Bytes(5, 0x55));
    sent = SteadyClock::now();
  });
  EXPECT_EQ(port.Read(got), 10u);
  const auto returned = SteadyClock::now();
  late.join();
  EXPECT_LT(Ms(returned - sent), kLate) << "the read waited on after its bytes had come";

  ASSERT_TRUE(terminal.Write(Bytes(3, 0x15)));
  start = SteadyClock::now();
  EXPECT_EQ(port.Read(got), 3u);
  const double waited = Ms(SteadyClock::now() - start);
  EXPECT_GE(waited, 11);  // 1 ms a byte asked for, and 1 ms
  EXPECT_LT(waited, 11 + kLate);

  terminal.Close();
  start = SteadyClock::now();
  EXPECT_EQ(port.Read(got), 0u);
  EXPECT_TRUE(port.Lost());
  EXPECT_EQ(port.Write(got), 0u);
  EXPECT_LT(Ms(SteadyClock::now() - start), 200) << "a lost line moved or waited";
}

// A block's write on a 9600-baud line lasts its 137.5 ms and no longer, whatever the driver
// counts; RTS, where the port switches it, covers every bit of it. Times in ms from the call.
TEST_P(PortContract, AWriteLastsUntilItsBytesHaveLeftAndNoLongerAndRtsCoversThem) {
  const Bytes packet(kDataPacketSize, 0x55);
  const double line_time = Ms(kDataPacketSize * kByteTime);
  const auto start = SteadyClock::now();
  EXPECT_EQ(port.Write(packet), packet.size());
  const double returned = Ms(SteadyClock::now() - start);
  EXPECT_LT(returned, (Paced() ? line_time : 0) + 20 + kLate);
  if (!driver) return;

  const auto departures = driver->Departures();
  const double first_left = Ms(departures.front() - start);
  const double last_left = Ms(departures.back() - start);
  EXPECT_GE(returned, last_left) << "returned before the driver had the bytes gone";
  const auto rts = driver->RtsChanges();
  if (!Paced()) {
    EXPECT_TRUE(rts.empty()) << "RTS switched where it reaches no transceiver";
    return;
  }
  ASSERT_EQ(rts.size(), 3u);  // dropped at the open, raised and dropped around the write
  EXPECT_TRUE(rts[1].raised);
  EXPECT_LE(Ms(rts[1].at - start), first_left - Ms(kByteTime)) << "raised after a byte began";
  EXPECT_FALSE(rts[2].raised);
  const double dropped = Ms(rts[2].at - start);
  EXPECT_GE(dropped, last_left) << "dropped before the last byte had left";
  EXPECT_GE(dropped, line_time + Ms(kByteTime)) << "dropped within the write's line time";
  if (GetParam().driver == Driver::kUart16550) {
    EXPECT_LT(dropped - last_left, 2 + kLate);
  }
}

// A USB device that stops reading stays plugged in: its bytes never leave and its driver never
// drains. The write gives up at its limit, 100 ms a byte and 100 ms, and the close still ends
// (Halt must give the operator Start back) and leaves the line as it was.
TEST_P(PortContract, AWriteToADeviceThatStopsReadingGivesUpAtItsLimitAndCloseStillReturns) {
  if (driver) {
    driver->StopAfter(1);
  } else {  // a pseudo-terminal's device stops reading: its buffer fills up
    const int fd = ::open(terminal.SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    const std::uint8_t byte = 0x55;
    while (::write(fd, &byte, 1) == 1) {
    }
    ::close(fd);
  }
  auto start = SteadyClock::now();
  EXPECT_LT(port.Write(Bytes{0x04, 0x04}), 2u);
  const double waited = Ms(SteadyClock::now() - start);
  EXPECT_GE(waited, 300);
  EXPECT_LT(waited, 300 + kLate);
  if (driver) {
    EXPECT_GT(driver->Discards(), 0u) << "what did not leave goes out later";
  }

  start = SteadyClock::now();
  port.Close();
  EXPECT_LT(Ms(SteadyClock::now() - start), 1000);
  termios after{};
  ASSERT_EQ(::tcgetattr(terminal.MasterFd(), &after), 0);
  EXPECT_NE(::cfgetospeed(&after), static_cast<speed_t>(B9600))
      << "the old settings did not return";
}

INSTANTIATE_TEST_SUITE_P(Drivers, PortContract,
                         ::testing::Values(Personality{"Uart16550", Driver::kUart16550},
                                           Personality{"UsbAdapter", Driver::kUsbAdapter},
                                           Personality{"CdcAcm", Driver::kCdcAcm},
                                           Personality{"PseudoTerminal", std::nullopt}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvo
