#include "simulator/zarq_simulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "serial/protocol.h"
#include "serial/serial_port.h"

// What the other suites rely on from the simulator and could not see go wrong themselves.
namespace kelvo {
namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Writes frame, then reads until count bytes have come (within a limit generous enough for
// sanitizer builds on a busy machine) and on for a while to catch any byte too many.
Bytes Exchange(SerialPort& port, const Bytes& frame, std::size_t count) {
  EXPECT_EQ(port.Write(frame), frame.size());
  Bytes bytes;
  const auto read = [&](std::size_t most) {
    std::uint8_t chunk[kPacketReplySize];
    const std::size_t n = port.Read(std::span(chunk, std::min(most, sizeof chunk)));
    bytes.insert(bytes.end(), chunk, chunk + n);
  };
  const auto deadline = SteadyClock::now() + milliseconds(3000);
  while (bytes.size() < count && SteadyClock::now() < deadline) read(count - bytes.size());
  const auto quiet_end = SteadyClock::now() + milliseconds(20);
  while (SteadyClock::now() < quiet_end) read(1);
  return bytes;
}

// The last byte of the device's reply to a packet (133 bytes) or command (one); -1 for none.
int Answer(SerialPort& port, const Bytes& frame) {
  const Bytes reply = Exchange(port, frame, frame[0] == kSoh ? kPacketReplySize : 1);
  return reply.empty() ? -1 : reply.back();
}

Bytes Command(std::uint8_t code, std::uint16_t argument) {
  return {kLeadIn, code, static_cast<std::uint8_t>(0xFF - code),
          static_cast<std::uint8_t>(argument & 0xFF), static_cast<std::uint8_t>(argument >> 8)};
}

// A packet whose 128 data bytes all hold its number.
Bytes Packet(std::uint8_t number) {
  Bytes packet(3 + kBlockSize + 1, number);
  packet[0] = kSoh;
  packet[2] = static_cast<std::uint8_t>(0xFF - number);
  packet.back() = static_cast<std::uint8_t>(number * kBlockSize);
  return packet;
}

Bytes Damaged(Bytes frame, std::size_t at) {
  frame[at] ^= 1;
  return frame;
}

SerialPort OpenAfterHandshake(const ZarqSimulator& simulator) {
  SerialPort port = OpenLoaderPort(simulator.PortPath());
  EXPECT_EQ(Exchange(port, {}, 1), Bytes{kNak});
  return port;
}

TEST(ZarqSimulator, StoresWhereAddressedErasesWholeRegionsAndRefusesDamagedFrames) {
  ZarqSimulator simulator;
  {
    SerialPort port = OpenAfterHandshake(simulator);
    // The last block of the region at 0x3000, then on into the next region.
    for (const Bytes& frame : {Command(SetAddressCommand, 0x4FF8), Packet(9), Packet(5)})
      EXPECT_EQ(Answer(port, frame), kAck);
    // The whole region goes, and nothing of the next.
    EXPECT_EQ(Answer(port, Command(EraseCommand, 0x3000)), kAck);
  }
  Bytes memory(ZarqSimulator::kMemoryBytes, 0xFF);
  std::fill_n(memory.begin() + 0x50000, kBlockSize, 5);
  EXPECT_EQ(simulator.Memory(), memory);
  // Each new session, however quickly the port is reopened, announces itself once.
  for (int open = 0; open < 5; ++open) OpenAfterHandshake(simulator);
  // Damaged and unknown frames are refused and change nothing: the session still loads at 0x2000.
  SerialPort port = OpenAfterHandshake(simulator);
  for (const Bytes& frame : {Damaged(Packet(1), 2), Damaged(Packet(1), kDataPacketSize - 1),
                             Damaged(Command(SetAddressCommand, 0x3000), 2), Command(0x42, 0x3000)})
    EXPECT_EQ(Answer(port, frame), kNak) << int{frame[1]};
  EXPECT_EQ(simulator.Memory(), memory);
  EXPECT_EQ(Answer(port, Packet(3)), kAck);
  std::fill_n(memory.begin() + 0x20000, kBlockSize, 3);
  EXPECT_EQ(simulator.Memory(), memory);
}

// Stands for Wine's port and ser2net's on a pseudo-terminal: both set 9600 baud without flushing
// and may leave it so on close; ser2net then purges for its RFC 2217 client, reading all the
// while, and flushes before it closes. Each open gets one greeting, after the purge if any.
TEST(ZarqSimulator, EachOpenIsGreetedOnceHoweverThePortSetsItUp) {
  ZarqSimulator simulator;
  const auto greetings = [&](bool purge) {
    const int fd = ::open(simulator.PortPath().c_str(), O_RDWR | O_NOCTTY);
    termios line{};
    ::tcgetattr(fd, &line);
    ::cfmakeraw(&line);
    ::cfsetspeed(&line, B9600);
    ::tcsetattr(fd, TCSANOW, &line);
    Bytes bytes;
    pollfd readable{fd, POLLIN, 0};
    // Until ms pass without a byte, or 150 ms once one has come.
    const auto read_for = [&](int ms) {
      for (std::uint8_t byte = 0; ::poll(&readable, 1, ms) == 1 && ::read(fd, &byte, 1) == 1;) {
        bytes.push_back(byte);
        ms = std::min(ms, 150);
      }
    };
    if (purge) {
      read_for(25);  // the client's settings on their way
      ::tcflush(fd, TCIOFLUSH);
    }
    read_for(3000);
    ::tcflush(fd, TCIOFLUSH);
    read_for(5);
    ::close(fd);
    std::this_thread::sleep_for(milliseconds(100));  // the device sees the hang-up
    return bytes;
  };
  for (const bool purge : {false, false, true, true})
    EXPECT_EQ(greetings(purge), Bytes{kNak}) << (purge ? "purged" : "not purged");
}

// Faults whose shape no transfer result shows: a babbling device never sends ACK or NAK; short
// packet replies and noise ahead of command replies still end in the verdict.
TEST(ZarqSimulator, BabbleShortRepliesAndNoiseKeepTheirShape) {
  const auto is_verdict = [](std::uint8_t byte) { return byte == kAck || byte == kNak; };
  ZarqSimulator babbler({.babble = true});
  SerialPort babbling = OpenLoaderPort(babbler.PortPath());
  const Bytes stream = Exchange(babbling, {}, 40);
  EXPECT_GE(stream.size(), 40u);
  EXPECT_EQ(std::count_if(stream.begin(), stream.end(), is_verdict), 0);

  ZarqSimulator simulator({.short_reply = 1, .noise_before_ack = 3});
  SerialPort port = OpenAfterHandshake(simulator);
  EXPECT_EQ(Exchange(port, Packet(1), 1), Bytes{kAck});
  EXPECT_EQ(Exchange(port, Damaged(Packet(2), kDataPacketSize - 1), 1), Bytes{kNak});
  const Bytes reply = Exchange(port, Command(SetAddressCommand, 0x2000), 4);
  ASSERT_EQ(reply.size(), 4u);
  EXPECT_EQ(reply.back(), kAck);
  EXPECT_EQ(std::count_if(reply.begin(), reply.end() - 1, is_verdict), 0);
}

}  // namespace
}  // namespace kelvo
