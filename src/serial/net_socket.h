#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kelvo {

// Why a connection could not be made.
enum class ConnectFailure { kNone, kUnknownHost, kRefused, kNoAnswer, kOther };

// A non-blocking TCP connection: the system's socket calls, which each system's back end
// (net_socket_posix.cpp, net_socket_win32.cpp) makes. Moves only; closes when destroyed.
class NetSocket {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  enum class Direction { kIn, kOut };

  NetSocket() = default;
  ~NetSocket();
  NetSocket(NetSocket&& other) noexcept;
  NetSocket& operator=(NetSocket&& other) noexcept;

  // Connects to host at port (a number) by any of its addresses, giving up at the deadline.
  // Returns the invalid socket and sets failure when it could not.
  static NetSocket Connect(const std::string& host, const std::string& port, TimePoint deadline,
                           ConnectFailure& failure);

  bool IsOpen() const;
  // What the system takes at once: the count (0 when it takes nothing now), or -1 once the
  // connection has gone.
  std::ptrdiff_t Send(std::span<const std::uint8_t> bytes);
  // What has come: the count (0 when nothing has), or -1 once the far end has closed or the
  // connection has failed.
  std::ptrdiff_t Receive(std::span<std::uint8_t> buffer);
  // Until bytes can move that way, or the connection has an end or an error to report, or the
  // deadline; false at the deadline.
  bool Wait(Direction direction, TimePoint deadline);

 private:
  explicit NetSocket(std::intptr_t handle) : handle_(handle) {}
  void Close();
  std::intptr_t handle_ = -1;
};

}  // namespace kelvo
