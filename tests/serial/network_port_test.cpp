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

// The server's end: a listening socket on a free loopback port, then the one connection.
class Server {
 public:
  Server() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~Server() {
    ::close(listener_);
    Hang();
  }
  std::string Name(const char* scheme) const {
    return scheme + std::string("://127.0.0.1:") + std::to_string(port_);
  }
  int Port() const { return port_; }
  void Listen() { ::listen(listener_, 1); }
  // Connects the port named scheme://...; the open runs while the test answers as the server.
  std::future<SerialPort> Open(const char* scheme) {
    Listen();
    auto port =
        std::async(std::launch::async, [this, scheme] { return OpenLoaderPort(Name(scheme)); });
    connection_ = ::accept(listener_, nullptr, nullptr);
    // As a device server sends: each burst at once, not held for the last one's acknowledgement.
    const int on = 1;
    ::setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return port;
  }
  void Send(const Bytes& bytes) {
    ASSERT_EQ(::send(connection_, bytes.data(), bytes.size(), 0),
              static_cast<ssize_t>(bytes.size()));
  }
  // What the port sent within wait.
  Bytes Received(milliseconds wait) {
    Bytes got;
    pollfd ready{connection_, POLLIN, 0};
    std::uint8_t chunk[4096];
    while (::poll(&ready, 1, static_cast<int>(wait.count())) > 0) {
      const ssize_t n = ::recv(connection_, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }
  void Hang() {
    if (connection_ >= 0) ::close(connection_);
    connection_ = -1;
  }

 private:
  int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  int connection_ = -1;
  int port_ = 0;
};

// Whatever pieces the bytes come in: data from the purge's answer on, 0xFF unescaped, and
// each option the port did not ask for refused once, those it asked for taken silently.
TEST(Telnet, TheReaderSortsDataFromCommandsInAnyPieces) {
  const Bytes wire = {'x',      kIac,  kSb,      kComPort, kPurgeData + kAnswerOffset,
                      3,        kIac,  kSe,      'A',      kIac,
                      kIac,     'B',   kIac,     kWill,    1,
                      kIac,     kDo,   kComPort, kIac,     kWill,
                      kBinary,  kIac,  kDo,      24,       'C',
                      kIac,     kWill, 1,        kIac,     kSb,
                      kComPort, 101,   0,        0,        kIac,
                      kIac,     kIac,  kSe,      'D'};
  for (const std::size_t piece : {wire.size(), std::size_t{1}}) {
    TelnetReader reader;
    Bytes data, replies;
    for (std::size_t at = 0; at < wire.size(); at += piece) {
      reader.Take(std::span(wire).subspan(at, std::min(piece, wire.size() - at)), data, replies);
    }
    EXPECT_TRUE(reader.PurgeAnswered());
    EXPECT_EQ(data, (Bytes{'A', 0xFF, 'B', 'C', 'D'})) << piece;
    EXPECT_EQ(replies, (Bytes{kIac, kDont, 1, kIac, kWont, 24})) << piece;
  }
}

TEST(NetworkPort, Rfc2217SetsTheLineUpAndKeepsOnlyWhatCameAfterThePurge) {
  Server server;
  auto opening = server.Open("rfc2217");
  const Bytes requests = server.Received(milliseconds(50));
  EXPECT_TRUE(Holds(requests, {kIac, kWill, kComPort}));
  for (const Bytes& request :
       {Bytes{kSetBaudRate, 0, 0, 0x25, 0x80}, Bytes{kSetDataSize, 8}, Bytes{kSetParity, 1},
        Bytes{kSetStopSize, 1}, Bytes{kSetControl, 1}, Bytes{kPurgeData, 3}}) {
    Bytes framed = {kIac, kSb, kComPort};
    framed.insert(framed.end(), request.begin(), request.end());
    framed.insert(framed.end(), {kIac, kSe});
    EXPECT_TRUE(Holds(requests, framed)) << int(request[0]);
  }
  server.Send(
      {0x15, kIac, kSb, kComPort, kPurgeData + kAnswerOffset, 3, kIac, kSe, kIac, kIac, kAck});
  SerialPort port = opening.get();
  Bytes got(3);
  EXPECT_EQ(port.Read(got), 2u);
  EXPECT_EQ(got, (Bytes{0xFF, kAck, 0}));
}

// ser2net leaves some requests unanswered on some lines; the open must not wait long for them.
TEST(NetworkPort, AServerThatDoesNotAnswerHoldsTheOpenBriefly) {
  Server server;
  const auto start = SteadyClock::now();
  auto opening = server.Open("rfc2217");
  SerialPort port = opening.get();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_LT(SteadyClock::now() - start, kControlAnswerWait + kLate);
}

class NetworkPortContract : public ::testing::TestWithParam<const char*> {};

// The port's promises (serial_port.h), with a write lasting its bytes' line time from its start;
// 0xFF doubled on the wire with Telnet only.
TEST_P(NetworkPortContract, ReadsAndWritesKeepThePortsPromises) {
  const bool telnet = GetParam() == std::string("rfc2217");
  Server server;
  auto opening = server.Open(GetParam());
  if (telnet) server.Send({kIac, kSb, kComPort, kPurgeData + kAnswerOffset, 3, kIac, kSe});
  SerialPort port = opening.get();
  ASSERT_TRUE(port.IsOpen());
  server.Received(milliseconds(10));

  const Bytes written = {0x01, 0xFF, 0x0D, 0x00, 0xFF, 0x02, 0x03, 0x04, 0x05, 0x06};
  auto start = SteadyClock::now();
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
  server.Hang();
  start = SteadyClock::now();
  EXPECT_EQ(port.Read(got), 0u);
  EXPECT_LT(SteadyClock::now() - start, milliseconds(5));
  EXPECT_TRUE(port.Lost());
}

INSTANTIATE_TEST_SUITE_P(Schemes, NetworkPortContract, ::testing::Values("rfc2217", "tcp"));

TEST(NetworkPort, AnOpenThatFailsNamesTheHostAndPort) {
  Server nobody_listens;
  SerialPort refused = OpenLoaderPort(nobody_listens.Name("tcp"));
  EXPECT_EQ(refused.Error(), PortError::kNoConnection);
  EXPECT_EQ(refused.FailureCause(), "no connection to 127.0.0.1 port " +
                                        std::to_string(nobody_listens.Port()) +
                                        ": connection refused");
  for (const char* name : {"tcp://host", "tcp://:4000", "rfc2217://host:0", "tcp://host:65536"}) {
    EXPECT_EQ(
        OpenLoaderPort(name).FailureCause(),
        name + std::string(" is no network port: name one tcp://HOST:PORT or rfc2217://HOST:PORT"));
  }
}

}  // namespace
}  // namespace kelvo
