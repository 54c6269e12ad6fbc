#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "serial/serial_port.h"

namespace kelvo {

struct SerialPort::Native {
  int fd = -1;
  bool lost = false;
  termios saved{};  // restored on close, so the line is left as we found it
};

namespace {

using SteadyClock = std::chrono::steady_clock;

PortError ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return PortError::kNoSuchPort;
    case EBUSY:
    case EWOULDBLOCK:
      return PortError::kInUse;
    case EACCES:
    case EPERM:
      return PortError::kPermissionDenied;
    case ENOTTY:
      return PortError::kNotASerialPort;
    default:
      return PortError::kOther;
  }
}

enum class Readiness { kReady, kTimedOut, kGone };

// Waits for the descriptor to become ready for events or for the deadline.
Readiness WaitReady(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return Readiness::kTimedOut;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000),
                           static_cast<long>(ns % 1000000000)};
    pollfd poll_fd{fd, events, 0};
    const int ready = ::ppoll(&poll_fd, 1, &timeout, nullptr);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (poll_fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      return Readiness::kGone;
    }
    if (ready == 0) return Readiness::kTimedOut;
    return (poll_fd.revents & events) != 0 ? Readiness::kReady : Readiness::kGone;
  }
}

// Asks the driver to raise RTS only while sending. Plain RS-232 drivers and pseudo-terminals
// refuse, and the line then keeps the RTS state the driver gives it.
void RaiseRtsOnlyWhileSending(int fd) {
  serial_rs485 rs485{};
  if (::ioctl(fd, TIOCGRS485, &rs485) != 0) return;
  rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  rs485.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
  ::ioctl(fd, TIOCSRS485, &rs485);
}

}  // namespace

SerialPort::SerialPort() = default;
SerialPort::~SerialPort() {
  Close();
}
SerialPort::SerialPort(SerialPort&& other) noexcept = default;

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = std::move(other.native_);
    error_ = other.error_;
    tap_ = other.tap_;
  }
  return *this;
}

bool SerialPort::IsOpen() const {
  return native_ != nullptr;
}

bool SerialPort::Lost() const {
  return native_ != nullptr && native_->lost;
}

void SerialPort::Close() {
  if (!native_) return;
  ::tcsetattr(native_->fd, TCSANOW, &native_->saved);
  ::ioctl(native_->fd, TIOCNXCL);
  ::close(native_->fd);  // also drops the flock
  native_.reset();
}

std::size_t SerialPort::Read(std::span<std::uint8_t> buffer) {
  if (!native_ || buffer.empty()) return 0;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(buffer.size() + 1);
  const std::size_t got = MoveBytes(buffer.size(), POLLIN, deadline, [&](std::size_t done) {
    return ::read(native_->fd, buffer.data() + done, buffer.size() - done);
  });
  if (tap_ && got > 0) tap_->OnBytes(PortTap::Direction::kReceived, buffer.first(got));
  return got;
}

std::size_t SerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (!native_ || bytes.empty()) return 0;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(100 * bytes.size() + 100);
  const std::size_t sent = MoveBytes(bytes.size(), POLLOUT, deadline, [&](std::size_t done) {
    return ::write(native_->fd, bytes.data() + done, bytes.size() - done);
  });
  if (tap_ && sent > 0) tap_->OnBytes(PortTap::Direction::kSent, bytes.first(sent));
  return sent;
}

template <typename Move>
std::size_t SerialPort::MoveBytes(std::size_t count, short events,
                                  std::chrono::steady_clock::time_point deadline, Move move) {
  std::size_t moved = 0;
  while (moved < count) {
    const ssize_t n = move(moved);
    if (n > 0) {
      moved += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      native_->lost = true;
      break;
    }
    // Nothing moved yet (a raw line reads 0 bytes then); a hang-up ends the wait early.
    const Readiness readiness = WaitReady(native_->fd, events, deadline);
    native_->lost = native_->lost || readiness == Readiness::kGone;
    if (readiness != Readiness::kReady) break;
  }
  return moved;
}

SerialPort OpenLoaderPort(const std::string& name) {
  SerialPort port;
  const std::string path = DevicePathFor(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    port.error_ = ErrorFromErrno(errno);
    return port;
  }
  const auto fail = [&](PortError error) {
    ::close(fd);
    port.error_ = error;
    return std::move(port);
  };

  // TIOCEXCL keeps other users' opens out; the lock also stops a second open by root.
  termios saved{};
  if (::tcgetattr(fd, &saved) != 0) return fail(ErrorFromErrno(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(ErrorFromErrno(errno));
  ::ioctl(fd, TIOCEXCL);

  termios line = saved;
  ::cfmakeraw(&line);
  line.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CSIZE | CRTSCTS);
  line.c_cflag |= CS8 | CREAD | CLOCAL;
  line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  ::cfsetispeed(&line, B9600);
  ::cfsetospeed(&line, B9600);
  // Bytes that reached the line before we opened it belong to no transfer of ours.
  if (::tcsetattr(fd, TCSAFLUSH, &line) != 0) {
    ::ioctl(fd, TIOCNXCL);
    return fail(ErrorFromErrno(errno));
  }
  RaiseRtsOnlyWhileSending(fd);

  port.native_ = std::make_unique<SerialPort::Native>();
  port.native_->fd = fd;
  port.native_->saved = saved;
  return port;
}

}  // namespace kelvo
