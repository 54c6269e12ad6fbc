#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "serial/net_socket.h"
#include "serial/time_limit_posix.h"

namespace kelvo {
namespace {

ConnectFailure FailureFromErrno(int error) {
  switch (error) {
    case ECONNREFUSED:
      return ConnectFailure::kRefused;
    case ETIMEDOUT:
      return ConnectFailure::kNoAnswer;
    default:
      return ConnectFailure::kOther;
  }
}

// Connects fd within the deadline; 0 or the error.
int ConnectWithin(int fd, const addrinfo& address, NetSocket::TimePoint deadline) {
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  if (WaitReady(fd, POLLOUT, deadline) == Readiness::kTimedOut) return ETIMEDOUT;
  int error = 0;
  socklen_t size = sizeof error;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
  return error;
}

}  // namespace

NetSocket NetSocket::Connect(const std::string& host, const std::string& port, TimePoint deadline,
                             ConnectFailure& failure) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
    failure = ConnectFailure::kUnknownHost;
    return {};
  }
  failure = ConnectFailure::kOther;
  for (const addrinfo* address = found; address; address = address->ai_next) {
    const int fd =
        ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const int error = ConnectWithin(fd, *address, deadline);
    if (error == 0) {
      ::freeaddrinfo(found);
      // A 5-byte command frame must leave at once, not wait for the last one's acknowledgement.
      const int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      failure = ConnectFailure::kNone;
      return NetSocket(fd);
    }
    ::close(fd);
    failure = FailureFromErrno(error);
  }
  ::freeaddrinfo(found);
  return {};
}

void NetSocket::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

std::ptrdiff_t NetSocket::Send(std::span<const std::uint8_t> bytes) {
  for (;;) {
    // A peer that has gone must fail the write, not end the program with SIGPIPE.
    const ssize_t n = ::send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

std::ptrdiff_t NetSocket::Receive(std::span<std::uint8_t> buffer) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(handle_), buffer.data(), buffer.size(), 0);
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  }
}

bool NetSocket::Wait(Direction direction, TimePoint deadline) {
  // A hang-up or an error counts as ready: the next call on the socket reports it.
  return WaitReady(static_cast<int>(handle_), direction == Direction::kIn ? POLLIN : POLLOUT,
                   deadline) != Readiness::kTimedOut;
}

}  // namespace kelvo
