// winsock2.h brings windows.h in after itself, as it must come first.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "serial/net_socket.h"

namespace kelvo {
namespace {

using SteadyClock = std::chrono::steady_clock;

bool StartWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// select with the time left; true once the socket is ready or has an error to report.
bool AwaitReady(SOCKET socket, bool for_writing, NetSocket::TimePoint deadline) {
  const auto left = deadline - SteadyClock::now();
  if (left <= SteadyClock::duration::zero()) return false;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
  timeval timeout{static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);
  return ::select(0, for_writing ? nullptr : &ready, for_writing ? &ready : nullptr, &failed,
                  &timeout) != 0;
}

ConnectFailure FailureFromError(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return ConnectFailure::kRefused;
    case WSAETIMEDOUT:
      return ConnectFailure::kNoAnswer;
    default:
      return ConnectFailure::kOther;
  }
}

// Connects the socket within the deadline; 0 or the error.
int ConnectWithin(SOCKET socket, const addrinfo& address, NetSocket::TimePoint deadline) {
  if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return 0;
  if (::WSAGetLastError() != WSAEWOULDBLOCK) return ::WSAGetLastError();
  if (!AwaitReady(socket, true, deadline)) return WSAETIMEDOUT;
  int error = 0;
  int size = sizeof error;
  ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
  return error;
}

}  // namespace

NetSocket NetSocket::Connect(const std::string& host, const std::string& port, TimePoint deadline,
                             ConnectFailure& failure) {
  failure = ConnectFailure::kOther;
  if (!StartWinsock()) return {};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
    failure = ConnectFailure::kUnknownHost;
    return {};
  }
  for (const addrinfo* address = found; address; address = address->ai_next) {
    const SOCKET socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (socket == INVALID_SOCKET) continue;
    u_long non_blocking = 1;
    ::ioctlsocket(socket, FIONBIO, &non_blocking);
    const int error = ConnectWithin(socket, *address, deadline);
    if (error == 0) {
      ::freeaddrinfo(found);
      // A 5-byte command frame must leave at once, not wait for the last one's acknowledgement.
      const BOOL on = TRUE;
      ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
      // Windows rounds waits up to its 15.6 ms tick, which would carry a read past its deadline.
      ::timeBeginPeriod(1);
      failure = ConnectFailure::kNone;
      return NetSocket(static_cast<std::intptr_t>(socket));
    }
    ::closesocket(socket);
    failure = FailureFromError(error);
  }
  ::freeaddrinfo(found);
  return {};
}

void NetSocket::Close() {
  if (handle_ == -1) return;
  ::closesocket(static_cast<SOCKET>(handle_));
  ::timeEndPeriod(1);
  handle_ = -1;
}

std::ptrdiff_t NetSocket::Send(std::span<const std::uint8_t> bytes) {
  const int n = ::send(static_cast<SOCKET>(handle_), reinterpret_cast<const char*>(bytes.data()),
                       static_cast<int>(bytes.size()), 0);
  if (n >= 0) return n;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

std::ptrdiff_t NetSocket::Receive(std::span<std::uint8_t> buffer) {
  const int n = ::recv(static_cast<SOCKET>(handle_), reinterpret_cast<char*>(buffer.data()),
                       static_cast<int>(buffer.size()), 0);
  if (n > 0) return n;
  return n < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

bool NetSocket::Wait(Direction direction, TimePoint deadline) {
  return AwaitReady(static_cast<SOCKET>(handle_), direction == Direction::kOut, deadline);
}

}  // namespace kelvo
