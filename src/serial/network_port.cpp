#include "serial/network_port.h"

#include <algorithm>
#include <thread>

#include "serial/protocol.h"

namespace kelvo {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr char kTelnetScheme[] = "rfc2217://";
constexpr char kRawScheme[] = "tcp://";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Some systems' sleeps end up to a millisecond early (MinGW's); the line time is a lower bound.
void SleepUntil(SteadyClock::time_point at) {
  for (auto now = SteadyClock::now(); now < at; now = SteadyClock::now()) {
    std::this_thread::sleep_for(at - now);
  }
}

SteadyClock::duration LineTime(std::size_t bytes) {
  return std::chrono::duration_cast<SteadyClock::duration>(bytes * kByteTime);
}

std::string ConnectFailureText(ConnectFailure failure) {
  switch (failure) {
    case ConnectFailure::kUnknownHost:
      return "unknown host";
    case ConnectFailure::kRefused:
      return "connection refused";
    case ConnectFailure::kNoAnswer:
      return "no answer within " + std::to_string(kConnectLimit.count()) + " s";
    case ConnectFailure::kNone:
    case ConnectFailure::kOther:
      break;
  }
  return "the connection failed";
}

}  // namespace

bool IsNetworkPortName(const std::string& name) {
  return StartsWith(name, kTelnetScheme) || StartsWith(name, kRawScheme);
}

std::optional<NetworkAddress> ParseNetworkPortName(const std::string& name) {
  NetworkAddress address;
  address.telnet = StartsWith(name, kTelnetScheme);
  if (!address.telnet && !StartsWith(name, kRawScheme)) return {};
  const std::string rest =
      name.substr(address.telnet ? sizeof kTelnetScheme - 1 : sizeof kRawScheme - 1);
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string::npos) return {};
  address.host = rest.substr(0, colon);
  address.port = rest.substr(colon + 1);
  if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']') {
    address.host = address.host.substr(1, address.host.size() - 2);
  }
  const bool digits = !address.port.empty() && address.port.size() <= 5 &&
                      address.port.find_first_not_of("0123456789") == std::string::npos;
  if (address.host.empty() || !digits || std::stoul(address.port) == 0 ||
      std::stoul(address.port) > 65535) {
    return {};
  }
  return address;
}

NetworkLink::NetworkLink(NetSocket socket, bool telnet) : socket_(std::move(socket)) {
  if (!telnet) return;
  telnet_.emplace();
  const auto deadline = SteadyClock::now() + kControlAnswerWait;
  SendWire(LoaderLineRequests(), deadline);
  while (!telnet_->PurgeAnswered() && Receive(deadline)) {
  }
  telnet_->StopAwaitingPurge();
}

std::size_t NetworkLink::TakePending(std::span<std::uint8_t> buffer) {
  const std::size_t count = std::min(buffer.size(), pending_.size());
  std::copy_n(pending_.begin(), count, buffer.begin());
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  return count;
}

bool NetworkLink::Receive(TimePoint deadline) {
  if (lost_ || !socket_.Wait(NetSocket::Direction::kIn, deadline)) return false;
  std::uint8_t wire[4096];
  const std::ptrdiff_t n = socket_.Receive(wire);
  if (n < 0) lost_ = true;
  if (n <= 0) return !lost_;
  const std::span<const std::uint8_t> received(wire, static_cast<std::size_t>(n));
  if (!telnet_) {
    pending_.insert(pending_.end(), received.begin(), received.end());
    return true;
  }
  std::vector<std::uint8_t> replies;
  telnet_->Take(received, pending_, replies);
  if (!replies.empty()) SendWire(replies, SteadyClock::now() + kControlAnswerWait);
  return !lost_;
}

std::size_t NetworkLink::SendWire(std::span<const std::uint8_t> wire, TimePoint deadline) {
  std::size_t sent = 0;
  while (sent < wire.size() && !lost_) {
    const std::ptrdiff_t n = socket_.Send(wire.subspan(sent));
    if (n < 0) lost_ = true;
    if (n > 0) sent += static_cast<std::size_t>(n);
    if (n == 0 && !socket_.Wait(NetSocket::Direction::kOut, deadline)) break;
  }
  return sent;
}

std::size_t NetworkLink::Read(std::span<std::uint8_t> buffer) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(buffer.size() + 1);
  std::size_t moved = TakePending(buffer);
  while (moved < buffer.size() && Receive(deadline)) {
    moved += TakePending(buffer.subspan(moved));
    // A reply trickles in at the far line's rate: all but the last of the rest are given the
    // time they need before the next look, so that a reply costs a few wakes, not one a byte.
    const std::size_t rest = buffer.size() - moved;
    if (rest > 1) SleepUntil(std::min(deadline, SteadyClock::now() + LineTime(rest - 1)));
  }
  return moved;
}

std::size_t NetworkLink::Write(std::span<const std::uint8_t> bytes) {
  const auto start = SteadyClock::now();
  const auto deadline = start + std::chrono::milliseconds(100 * bytes.size() + 100);
  std::size_t sent = 0;
  if (telnet_) {
    std::vector<std::uint8_t> wire;
    AppendEscaped(bytes, wire);
    sent = DataBytesIn(bytes, SendWire(wire, deadline));
  } else {
    sent = SendWire(bytes, deadline);
  }
  if (!lost_) SleepUntil(start + LineTime(sent));
  return sent;
}

SerialPort OpenNetworkPort(const std::string& name) {
  SerialPort port;
  const auto fail = [&](const std::string& detail) {
    port.error_ = PortError::kNoConnection;
    port.failure_cause_ = PortFailureCause(PortError::kNoConnection, name, detail);
    return std::move(port);
  };
  const std::optional<NetworkAddress> address = ParseNetworkPortName(name);
  if (!address) return fail("");
  ConnectFailure failure = ConnectFailure::kNone;
  NetSocket socket =
      NetSocket::Connect(address->host, address->port, SteadyClock::now() + kConnectLimit, failure);
  if (!socket.IsOpen()) return fail(ConnectFailureText(failure));
  port.network_ = std::make_unique<NetworkLink>(std::move(socket), address->telnet);
  return port;
}

}  // namespace kelvo
