#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/net_socket.h"
#include "serial/serial_port.h"
#include "serial/telnet.h"

namespace kelvo {

// How long a connection may take before the port gives up on it.
inline constexpr std::chrono::seconds kConnectLimit{5};
// How long the port waits for the server to answer its line requests: some servers leave some
// of them unanswered (ser2net, SET-CONTROL on some lines).
inline constexpr std::chrono::milliseconds kControlAnswerWait{250};

// A serial port behind a device server: "rfc2217://HOST:PORT" (Telnet with COM Port Control,
// the port sets the line up) or "tcp://HOST:PORT" (raw bytes, the server's own settings apply).
// HOST may be an IPv6 address in brackets.
struct NetworkAddress {
  bool telnet = false;
  std::string host;
  std::string port;  // a number from 1 to 65535
};
bool IsNetworkPortName(const std::string& name);
// The address a network port's name gives; none when the name is not one or is malformed.
std::optional<NetworkAddress> ParseNetworkPortName(const std::string& name);

// The connection behind an open network port, keeping SerialPort's promises for reads; a write
// lasts the line time of its bytes from its start, as the network cannot tell when the far end
// has sent them. RTS is the server's business.
class NetworkLink {
 public:
  // With Telnet, sets the loader's line up and purges it, and drops what came before.
  NetworkLink(NetSocket socket, bool telnet);
  std::size_t Read(std::span<std::uint8_t> buffer);
  std::size_t Write(std::span<const std::uint8_t> bytes);
  bool Lost() const { return lost_; }

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  // Waits until bytes come or the deadline; takes their data into pending_ and answers what
  // the server asks. False at the deadline or once the connection has gone.
  bool Receive(TimePoint deadline);
  // Sends until all have gone, the deadline has passed or the connection is lost; returns the
  // count sent.
  std::size_t SendWire(std::span<const std::uint8_t> wire, TimePoint deadline);
  std::size_t TakePending(std::span<std::uint8_t> buffer);

  NetSocket socket_;
  std::optional<TelnetReader> telnet_;
  std::vector<std::uint8_t> pending_;  // data received and not read yet
  bool lost_ = false;
};

// Opens a network port; on failure the invalid handle with PortError::kNoConnection and a cause
// that names the host and the port.
SerialPort OpenNetworkPort(const std::string& name);

}  // namespace kelvo
