// The port's promises on every kind of Windows serial driver. Run by tests/windows/run.sh, with a
// paced zarq-sim behind COM5.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver_personalities.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using testing::SteadyClock;
using testing::WineDriver;

// What may add to a wait: a loaded machine's scheduling, and Wine's read time-out, which ends
// up to 4.5 ms late while bytes are arriving. The faults the upper bounds catch are far larger.
constexpr auto kLoadAllowance = 15ms;

struct Personality {
  const char* name;
  std::unique_ptr<WineDriver> (*make)();
  DWORD rts_control;        // as the port sets it
  bool rts_by_hand;         // raised and dropped by the port around each write
  std::size_t reply_bytes;  // at least this many of a packet's reply reach the read; 0: none
  bool unplugged;           // the line goes in the middle of the reply
};

template <typename Driver>
std::unique_ptr<WineDriver> Make() {
  return std::make_unique<Driver>();
}

const Personality kPersonalities[] = {
    {"SerialSys", Make<testing::SerialSys>, RTS_CONTROL_TOGGLE, false, 120, false},
    {"VendorUsb", Make<testing::VendorUsb>, RTS_CONTROL_DISABLE, true, 120, false},
    {"Wine", Make<WineDriver>, RTS_CONTROL_DISABLE, false, 120, false},
    {"StalledDevice", Make<testing::StalledDevice>, RTS_CONTROL_DISABLE, false, 0, false},
    {"UnpluggedDevice", Make<testing::UnpluggedDevice>, RTS_CONTROL_DISABLE, false,
     testing::UnpluggedDevice::kDeliveredBeforeRemoval, true},
};

// Block 1, which the simulator answers with an echo and ACK; its data holds no NAK.
std::vector<std::uint8_t> Packet() {
  std::vector<std::uint8_t> packet = {kSoh, 1, 0xFE};
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    packet.push_back(static_cast<std::uint8_t>('@' + i % 64));
    sum = static_cast<std::uint8_t>(sum + packet.back());
  }
  packet.push_back(sum);
  return packet;
}

// The port, once the simulator has greeted it with NAK, which it does within 21 ms of the open
// on an idle machine, behind what an earlier test left unread. The pause first lets the
// simulator see the last close, which a reopen at once would hide.
SerialPort OpenSession(LineDriver& driver) {
  std::this_thread::sleep_for(30ms);
  SerialPort port = OpenLoaderPort("COM5", driver);
  const auto greeted = SteadyClock::now() + 100ms;
  std::uint8_t byte = 0;
  while (port.IsOpen() && SteadyClock::now() < greeted) port.Read({&byte, 1});
  EXPECT_EQ(byte, kNak) << "no greeting";
  return port;
}

std::array<DWORD, 13> Fields(const DCB& s) {
  return {s.BaudRate, s.ByteSize,     s.Parity,       s.StopBits,        s.fBinary,
          s.fNull,    s.fOutxCtsFlow, s.fOutxDsrFlow, s.fDsrSensitivity, s.fInX,
          s.fOutX,    s.fDtrControl,  s.fRtsControl};
}

class DriverContract : public ::testing::TestWithParam<Personality> {};

// Whatever the port found, it sets the line up; a packet leaves in its line time, its reply is read
// by its deadline, and the close puts the line back within a second.
TEST_P(DriverContract, SetsTheLineUpSendsAPacketReadsItsReplyInTimeAndPutsTheLineBack) {
  const Personality& p = GetParam();
  const auto driver = p.make();
  SerialPort port = OpenSession(*driver);
  ASSERT_TRUE(port.IsOpen()) << port.FailureCause();
  ASSERT_TRUE(driver->found && !driver->given.empty());
  EXPECT_EQ(Fields(driver->given.back()),
            (std::array<DWORD, 13>{CBR_9600, 8, NOPARITY, ONESTOPBIT, TRUE, FALSE, FALSE, FALSE,
                                   FALSE, FALSE, FALSE, DTR_CONTROL_ENABLE, p.rts_control}));
  const std::vector<std::uint8_t> packet = Packet();
  const auto start = SteadyClock::now();
  EXPECT_EQ(port.Write(packet), packet.size());
  EXPECT_LE(SteadyClock::now() - start, packet.size() * kByteTime + 20ms);
  // By hand, RTS is dropped at the open and raised only around the write.
  if (p.rts_by_hand) {
    ASSERT_EQ(driver->rts.size(), 3u);
    EXPECT_TRUE(!driver->rts[0].second && driver->rts[1].second && !driver->rts[2].second);
    EXPECT_GE(driver->rts[2].first - start, (packet.size() + 1) * kByteTime);
    EXPECT_GE(driver->rts[2].first, driver->flushed);
  }

  // The device has the packet now, and its reply needs 138.5 ms.
  std::this_thread::sleep_until(start + packet.size() * kByteTime);
  std::vector<std::uint8_t> reply(kPacketReplySize);
  const auto reading = SteadyClock::now();
  const std::size_t got = port.Read(reply);
  const auto took = SteadyClock::now() - reading;
  const std::chrono::milliseconds limit(reply.size() + 1);
  EXPECT_TRUE(p.reply_bytes > 0 ? got >= p.reply_bytes : got == 0) << got << " bytes";
  if (got < reply.size() && !port.Lost()) {
    EXPECT_GE(took, limit) << got << " bytes";
  }
  EXPECT_LE(took, limit + kLoadAllowance) << got << " bytes";
  EXPECT_EQ(port.Lost(), p.unplugged);

  const auto closing = SteadyClock::now();
  port.Close();
  EXPECT_LE(SteadyClock::now() - closing, 1s);
  EXPECT_EQ(std::memcmp(&driver->given.back(), &*driver->found, sizeof(DCB)), 0);
}

INSTANTIATE_TEST_SUITE_P(Personalities, DriverContract, ::testing::ValuesIn(kPersonalities),
                         [](const auto& instance) { return std::string(instance.param.name); });

}  // namespace
}  // namespace kelvo
