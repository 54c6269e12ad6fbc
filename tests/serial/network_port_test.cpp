// Network ports (network_port.h) against a device server that the test plays on loopback.
#include "serial/network_port.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "serial/protocol.h"

namespace kelvo {
namespace {

using namespace telnet;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Upper bounds allow this many ms for a loaded test machine; the faults they catch are larger.
constexpr milliseconds kLate{30};

bool Holds(const Bytes& bytes, const Bytes& part) {
  return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

// The device server's end on a free loopback port, with the one connection the port makes.
struct Server {
  // Opens the port named scheme://...; the open runs while the test answers as the server.
  std::future<SerialPort> Open(const char* scheme) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    ::listen(listener, 1);
    const std::string name = scheme + ("://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    auto port = std::async(std::launch::async, [name] { return OpenLoaderPort(name); });
    connection = ::accept(listener, nullptr, nullptr);
    // As a device server sends: each burst at once, not held for the last one's acknowledgement.
    const int on = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return port;
  }
  void Send(const Bytes& bytes) { ::send(connection, bytes.data(), bytes.size(), 0); }
  // What the port sent within wait.
  Bytes Received(milliseconds wait) {
    Bytes got(4096);
    pollfd ready{connection, POLLIN, 0};
    const ssize_t n = ::poll(&ready, 1, static_cast<int>(wait.count())) > 0
                          ? ::recv(connection, got.data(), got.size(), 0)
                          : 0;
    got.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    return got;
  }
  ~Server() {
    ::close(listener);
    ::close(connection);
  }
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  int connection = -1;
};

const Bytes kPurgeAnswer = {kIac, kSb, kComPort, kPurgeData + kAnswerOffset, 3, kIac, kSe};

// Whatever pieces the bytes come in: data from the purge's answer on, 0xFF unescaped, and
// each option the port did not ask for refused once, those it asked for taken silently.
TEST(Telnet, TheReaderSortsDataFromCommandsInAnyPieces) {
  Bytes wire = {'x'};
  wire.insert(wire.end(), kPurgeAnswer.begin(), kPurgeAnswer.end());
  wire.insert(wire.end(), {'A',  kIac,  kIac,     'B',  kIac, kWill, 1,    kIac, kDo,   kComPort,
                           kIac, kWill, kBinary,  kIac, kDo,  24,    'C',  kIac, kWill, 1,
                           kIac, kSb,   kComPort, 101,  0,    kIac,  kIac, kIac, kSe,   'D'});
  for (const std::size_t piece : {wire.size(), std::size_t{1}}) {
    TelnetReader reader;
    Bytes data, replies;
    for (std::size_t at = 0; at < wire.size(); at += piece) {
      reader.Take(std::span(wire).subspan(at, std::min(piece, wire.size() - at)), data, replies);
    }
    EXPECT_EQ(data, (Bytes{'A', 0xFF, 'B', 'C', 'D'})) << piece;
    EXPECT_EQ(replies, (Bytes{kIac, kDont, 1, kIac, kWont, 24})) << piece;
  }
}

TEST(NetworkPort, Rfc2217SetsTheLineUpAndKeepsOnlyWhatCameAfterThePurge) {
  Server server;
  auto opening = server.Open("rfc2217");
  const Bytes requests = server.Received(milliseconds(100));
  EXPECT_TRUE(Holds(requests, {kIac, kWill, kComPort}));
  for (const Bytes& request :
       {Bytes{kSetBaudRate, 0, 0, 0x25, 0x80}, Bytes{kSetDataSize, 8}, Bytes{kSetParity, 1},
        Bytes{kSetStopSize, 1}, Bytes{kSetControl, 1}, Bytes{kPurgeData, 3}}) {
    Bytes framed = {kIac, kSb, kComPort};
    framed.insert(framed.end(), request.begin(), request.end());
    framed.insert(framed.end(), {kIac, kSe});
    EXPECT_TRUE(Holds(requests, framed)) << int(request[0]);
  }
  Bytes replies = {kNak};
  replies.insert(replies.end(), kPurgeAnswer.begin(), kPurgeAnswer.end());
  replies.insert(replies.end(), {kIac, kIac, kAck});
  server.Send(replies);
  SerialPort port = opening.get();
  Bytes got(3);
  EXPECT_EQ(port.Read(got), 2u);
  EXPECT_EQ(got, (Bytes{0xFF, kAck, 0}));
}

class NetworkPortContract : public ::testing::TestWithParam<const char*> {};

// The port's promises (serial_port.h), with a write lasting its bytes' line time from its start,
// 0xFF doubled on the wire with Telnet only, and an open that a server leaving its requests
// unanswered (ser2net on some lines) holds only briefly.
TEST_P(NetworkPortContract, ReadsAndWritesKeepThePortsPromises) {
  const bool telnet = GetParam() == std::string("rfc2217");
  Server server;
  auto start = SteadyClock::now();
  SerialPort port = server.Open(GetParam()).get();
  ASSERT_TRUE(port.IsOpen());
  EXPECT_LT(SteadyClock::now() - start, (telnet ? kControlAnswerWait : milliseconds(0)) + kLate);
  server.Received(milliseconds(10));

  const Bytes written = {0x01, 0xFF, 0x0D, 0x00, 0xFF, 0x02, 0x03, 0x04, 0x05, 0x06};
  start = SteadyClock::now();
  EXPECT_EQ(port.Write(written), written.size());
  const auto took = SteadyClock::now() - start;
  EXPECT_GE(took, written.size() * kByteTime);
  EXPECT_LT(took, written.size() * kByteTime + kLate);
  const Bytes escaped = {0x01, 0xFF, 0xFF, 0x0D, 0x00, 0xFF, 0xFF, 0x02, 0x03, 0x04, 0x05, 0x06};
  EXPECT_EQ(server.Received(milliseconds(20)), telnet ? escaped : written);

  // Ten bytes asked for: five come at once and five 6 ms later; then three that never come.
  const Bytes half = telnet ? Bytes{0xFF, 0xFF, 1, 2, 3, 4} : Bytes{0xFF, 1, 2, 3, 4};
  server.Send(half);
  start = SteadyClock::now();
  std::thread late([&] {
    std::this_thread::sleep_until(start + milliseconds(6));
    server.Send(half);
  });
  Bytes got(10);
  EXPECT_EQ(port.Read(got), 10u);
  EXPECT_LT(SteadyClock::now() - start, milliseconds(6) + kLate);
  late.join();
  EXPECT_EQ(got, (Bytes{0xFF, 1, 2, 3, 4, 0xFF, 1, 2, 3, 4}));
  start = SteadyClock::now();
  EXPECT_EQ(port.Read(std::span(got).first(3)), 0u);
  EXPECT_GE(SteadyClock::now() - start, milliseconds(4));
  EXPECT_LT(SteadyClock::now() - start, milliseconds(4) + kLate);
  EXPECT_FALSE(port.Lost());

  // The server goes: the read ends at once, and the port is lost.
  ::shutdown(server.connection, SHUT_RDWR);
  start = SteadyClock::now();
  EXPECT_EQ(port.Read(got), 0u);
  EXPECT_LT(SteadyClock::now() - start, milliseconds(5));
  EXPECT_TRUE(port.Lost());
}

INSTANTIATE_TEST_SUITE_P(Schemes, NetworkPortContract, ::testing::Values("rfc2217", "tcp"));

}  // namespace
}  // namespace kelvo
