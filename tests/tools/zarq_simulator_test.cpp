#include "simulator/zarq_simulator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numeric>
#include <thread>

#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace kelvo {
namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr milliseconds kReplyLimit{3000};  // generous: sanitizer builds on a busy machine
constexpr milliseconds kQuiet{20};         // a reply sent at once is whole after this silence

Bytes ReadBytes(SerialPort& port, std::size_t count) {
  Bytes bytes;
  std::uint8_t chunk[256];
  const auto deadline = SteadyClock::now() + kReplyLimit;
  while (bytes.size() < count && SteadyClock::now() < deadline) {
    const std::size_t n = port.Read(std::span(chunk, std::min(sizeof chunk, count - bytes.size())));
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

// Reads until count bytes have come, then on for kQuiet to catch any byte too many.
Bytes ReadReply(SerialPort& port, std::size_t count) {
  Bytes bytes = ReadBytes(port, count);
  std::uint8_t chunk[1];
  const auto quiet_end = SteadyClock::now() + kQuiet;
  while (SteadyClock::now() < quiet_end) {
    const std::size_t n = port.Read(std::span(chunk, 1));
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

Bytes Exchange(SerialPort& port, const Bytes& frame, std::size_t reply_size) {
  EXPECT_EQ(port.Write(frame), frame.size());
  return ReadReply(port, reply_size);
}

Bytes Command(std::uint8_t code, std::uint16_t argument) {
  return {kLeadIn, code, static_cast<std::uint8_t>(0xFF - code),
          static_cast<std::uint8_t>(argument & 0xFF), static_cast<std::uint8_t>(argument >> 8)};
}

Bytes Block(std::uint8_t seed) {
  Bytes data(kBlockSize);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(seed + i * 7);
  return data;
}

Bytes Packet(std::uint8_t number, const Bytes& data) {
  Bytes packet(kDataPacketSize);
  packet[0] = kSoh;
  packet[1] = number;
  packet[2] = static_cast<std::uint8_t>(0xFF - number);
  std::copy(data.begin(), data.end(), packet.begin() + 3);
  packet.back() = static_cast<std::uint8_t>(std::accumulate(data.begin(), data.end(), 0u));
  return packet;
}

Bytes MemoryAt(const ZarqSimulator& simulator, std::size_t offset, std::size_t size = kBlockSize) {
  const Bytes memory = simulator.Memory();
  return Bytes(memory.begin() + static_cast<std::ptrdiff_t>(offset),
               memory.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

SerialPort OpenAfterHandshake(const ZarqSimulator& simulator) {
  SerialPort port = OpenLoaderPort(simulator.PortPath());
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(ReadReply(port, 1), Bytes{kNak});
  return port;
}

TEST(ZarqSimulator, AnnouncesItselfOnceAtEveryOpen) {
  ZarqSimulator simulator;
  ASSERT_TRUE(simulator.IsRunning());
  // Reopening at once must not slip past it, however fast the close and the open follow.
  for (int open = 0; open < 5; ++open) {
    SerialPort port = OpenLoaderPort(simulator.PortPath());
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(ReadReply(port, 1), Bytes{kNak}) << "open " << open;
  }
}

TEST(ZarqSimulator, StoresPacketsWhereAddressedAndErasesWholeRegions) {
  ZarqSimulator simulator;
  {
    SerialPort port = OpenAfterHandshake(simulator);
    EXPECT_EQ(Exchange(port, Command(SetAddressCommand, 0x5000), 1), Bytes{kAck});
    EXPECT_EQ(Exchange(port, Packet(9, Block(9)), kPacketReplySize).back(), kAck);
    EXPECT_EQ(Exchange(port, Command(SetAddressCommand, 0x3000), 1), Bytes{kAck});
    EXPECT_EQ(Exchange(port, Packet(1, Block(1)), kPacketReplySize).back(), kAck);
    EXPECT_EQ(Exchange(port, Packet(2, Block(2)), kPacketReplySize).back(), kAck);
    EXPECT_EQ(MemoryAt(simulator, 0x30000), Block(1));
    EXPECT_EQ(MemoryAt(simulator, 0x30080), Block(2));
    EXPECT_EQ(MemoryAt(simulator, 0x50000), Block(9));

    EXPECT_EQ(Exchange(port, Command(EraseCommand, 0x3000), 1), Bytes{kAck});
    EXPECT_EQ(MemoryAt(simulator, 0x30000, 0x20000), Bytes(0x20000, 0xFF));
    EXPECT_EQ(MemoryAt(simulator, 0x50000), Block(9)) << "the next region is kept";
  }
  // A new session loads from 0x2000 again without being told.
  SerialPort port = OpenAfterHandshake(simulator);
  EXPECT_EQ(Exchange(port, Packet(1, Block(3)), kPacketReplySize).back(), kAck);
  EXPECT_EQ(MemoryAt(simulator, 0x20000), Block(3));
  EXPECT_EQ(simulator.Frames().size(), 7u);
}

TEST(ZarqSimulator, RefusesDamagedFramesWithoutEffect) {
  struct Case {
    const char* what;
    Bytes frame;
    std::size_t reply_size;
  };
  Bytes bad_complement = Packet(1, Block(1));
  bad_complement[2] = 0xFF;
  Bytes bad_checksum = Packet(1, Block(1));
  bad_checksum.back() ^= 1;
  Bytes bad_command = Command(SetAddressCommand, 0x3000);
  bad_command[2] = 0xBD;
  const Case cases[] = {
      {"packet with a bad complement", bad_complement, kPacketReplySize},
      {"packet with a bad checksum", bad_checksum, kPacketReplySize},
      {"command with a bad complement", bad_command, 1},
      {"unknown command", Command(0x42, 0x3000), 1},
  };
  ZarqSimulator simulator;
  SerialPort port = OpenAfterHandshake(simulator);
  for (const Case& c : cases) {
    const Bytes reply = Exchange(port, c.frame, c.reply_size);
    EXPECT_EQ(reply.size(), c.reply_size) << c.what;
    EXPECT_EQ(reply.back(), kNak) << c.what;
  }
  EXPECT_EQ(simulator.Memory(), Bytes(ZarqSimulator::kMemoryBytes, 0xFF));
  // Neither the refused packets nor the refused address command moved the address.
  EXPECT_EQ(Exchange(port, Packet(1, Block(1)), kPacketReplySize).back(), kAck);
  EXPECT_EQ(MemoryAt(simulator, 0x20000), Block(1));
  const auto frames = simulator.Frames();
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](auto& f) { return f.accepted; }), 1);
}

TEST(ZarqSimulator, FaultsOnRequest) {
  struct Step {
    Bytes frame;
    std::size_t reply_size;
    int last;  // the reply's last byte; -1 for no reply
  };
  struct Case {
    const char* what;
    SimulatorOptions options;
    Bytes handshake;
    std::vector<Step> steps;
  };
  const Bytes set_address = Command(SetAddressCommand, 0x2000);
  const Bytes erase = Command(EraseCommand, 0x2000);
  const Bytes packet1 = Packet(1, Block(1));
  const Bytes packet2 = Packet(2, Block(2));
  const Bytes eot{kEot};
  Bytes damaged = Packet(2, Block(2));
  damaged.back() ^= 1;
  const Case cases[] = {
      {"stray handshake byte", {.handshake_byte = kAck}, {kAck}, {{set_address, 1, kAck}}},
      {"silent", {.silent = true}, {}, {{set_address, 0, -1}, {packet1, 0, -1}, {eot, 0, -1}}},
      {"refused command",
       {.refuse_command = EraseCommand},
       {kNak},
       {{set_address, 1, kAck}, {erase, 1, kNak}, {erase, 1, kNak}}},
      {"refused block",
       {.refuse_block = 2, .refuse_times = 2},
       {kNak},
       {{packet1, kPacketReplySize, kAck},
        {packet2, kPacketReplySize, kNak},
        {packet2, kPacketReplySize, kNak},
        {packet2, kPacketReplySize, kAck}}},
      {"short replies",
       {.short_reply = 1},
       {kNak},
       {{packet1, 1, kAck}, {damaged, 1, kNak}, {set_address, 1, kAck}}},
      {"noise before replies to commands",
       {.noise_before_ack = 3},
       {kNak},
       {{set_address, 4, kAck},
        {erase, 4, kAck},
        {packet1, kPacketReplySize, kAck},
        {eot, 1, kAck}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZarqSimulator simulator(c.options);
    SerialPort port = OpenLoaderPort(simulator.PortPath());
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(ReadReply(port, c.handshake.size()), c.handshake);
    for (const Step& step : c.steps) {
      const Bytes reply = Exchange(port, step.frame, step.reply_size);
      ASSERT_EQ(reply.size(), step.reply_size);
      if (step.last < 0) continue;
      EXPECT_EQ(reply.back(), step.last);
      if (step.frame.front() == kLeadIn) {
        EXPECT_EQ(std::count_if(reply.begin(), reply.end() - 1,
                                [](std::uint8_t b) { return b == kAck || b == kNak; }),
                  0);
      }
    }
    EXPECT_TRUE(simulator.AwaitFrames(c.steps.size(), kReplyLimit));
  }
}

TEST(ZarqSimulator, BabblesOnceOpenedAndAnswersNothing) {
  ZarqSimulator simulator({.babble = true});
  SerialPort port = OpenLoaderPort(simulator.PortPath());
  ASSERT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Write(Command(SetAddressCommand, 0x2000)), kCommandFrameSize);
  const Bytes stream = ReadReply(port, 40);
  EXPECT_GE(stream.size(), 40u);
  EXPECT_EQ(std::count(stream.begin(), stream.end(), kAck), 0);
  EXPECT_EQ(std::count(stream.begin(), stream.end(), kNak), 0);
  ASSERT_TRUE(simulator.AwaitFrames(1, kReplyLimit));
  EXPECT_FALSE(simulator.Frames().front().accepted);
}

TEST(ZarqSimulator, HangsUpWhenThePacketsAfterTheGivenCountCome) {
  ZarqSimulator simulator({.hang_up_after_blocks = 2});
  SerialPort port = OpenAfterHandshake(simulator);
  EXPECT_EQ(Exchange(port, Packet(1, Block(1)), kPacketReplySize).back(), kAck);
  EXPECT_EQ(Exchange(port, Packet(2, Block(2)), kPacketReplySize).back(), kAck);
  EXPECT_EQ(port.Write(Packet(3, Block(3))), kDataPacketSize);
  const auto deadline = SteadyClock::now() + kReplyLimit;
  while (simulator.IsRunning() && SteadyClock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_FALSE(simulator.IsRunning());
  std::uint8_t byte = 0;
  EXPECT_EQ(port.Read(std::span(&byte, 1)), 0u);
  EXPECT_EQ(port.Write(Packet(3, Block(3))), 0u);
  EXPECT_EQ(MemoryAt(simulator, 0x20080), Block(2));
  EXPECT_EQ(MemoryAt(simulator, 0x20100), Bytes(kBlockSize, 0xFF));
}

TEST(ZarqSimulator, PacedLineTakesTheTimeOfEveryByteBothWays) {
  ZarqSimulator simulator({.paced = true});
  SerialPort port = OpenAfterHandshake(simulator);
  const auto start = SteadyClock::now();
  ASSERT_EQ(port.Write(Packet(1, Block(1))), kDataPacketSize);
  ASSERT_EQ(ReadBytes(port, kPacketReplySize).size(), kPacketReplySize);
  const auto last_byte = SteadyClock::now();
  // 132 bytes in and 133 out at 10/9600 s a byte: 276.0 ms; the bound above is loose on purpose.
  EXPECT_GE(last_byte - start, milliseconds(275));
  EXPECT_LT(last_byte - start, milliseconds(1000));
}

TEST(ZarqSimulator, SavesMemoryAndOneLogLinePerFrame) {
  ZarqSimulator simulator;
  {
    SerialPort port = OpenAfterHandshake(simulator);
    EXPECT_EQ(Exchange(port, Packet(1, Block(1)), kPacketReplySize).back(), kAck);
    EXPECT_EQ(Exchange(port, Bytes{kEot}, 1), Bytes{kAck});
    EXPECT_EQ(port.Write(Bytes{0x42}), 1u);
    ASSERT_TRUE(simulator.AwaitFrames(3, kReplyLimit));
  }
  EXPECT_EQ(simulator.EotCount(), 1);
  // Other checkouts may run this test at the same time.
  const std::string stem = ::testing::TempDir() + "zarq_" + std::to_string(::getpid());
  const std::string memory_path = stem + "_memory.bin";
  const std::string log_path = stem + "_frames.txt";
  ASSERT_TRUE(simulator.SaveMemory(memory_path));
  ASSERT_TRUE(simulator.SaveFrameLog(log_path));
  std::ifstream memory_file(memory_path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(memory_file), {}), simulator.Memory());
  std::ifstream log_file(log_path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(log_file, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"packet block 1 at 0x2000: ACK", "EOT: ACK",
                                             "stray byte 0x42"}));
  std::remove(memory_path.c_str());
  std::remove(log_path.c_str());
}

}  // namespace
}  // namespace kelvo
