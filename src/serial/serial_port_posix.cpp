#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "serial/line_driver_posix.h"
#include "serial/network_port.h"
#include "serial/open_lines_posix.h"
#include "serial/port_holder_posix.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"
#include "serial/time_limit_posix.h"

namespace kelvo {

// How RTS comes to be raised only while the port sends.
enum class RtsControl {
  kKernel,       // the driver's RS-485 mode switches it
  kByPort,       // raised before each write and dropped once its bytes have left
  kUnavailable,  // no modem lines (pseudo-terminals, some adapters) or none to switch (CDC-ACM)
};

struct SerialPort::Native {
  int fd = -1;
  LineDriver* driver = nullptr;
  bool lost = false;
  RtsControl rts = RtsControl::kUnavailable;
  LineChanges changes;  // put back on close, so the line is left as we found it
};

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often a queue whose driver overcounts it is looked at.
constexpr std::chrono::milliseconds kOvercountPoll{2};

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
    // The serial driver refuses to open a port whose UART it could not find.
    case EIO:
      return PortError::kNoUart;
    default:
      return PortError::kOther;
  }
}

// On an RS-485 adapter RTS switches the transmitter on, and a device cannot answer while it
// stays on. The kernel's RS-485 mode switches it best; where the driver refuses that mode the
// port switches it by hand, and where there are no modem lines it cannot be switched at all.
RtsControl RaiseRtsOnlyWhileSending(LineDriver& driver, int fd, serial_rs485& previous) {
  serial_rs485 config{};
  if (driver.GetRs485(fd, config)) {
    previous = config;
    config.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    config.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
    // The bus is let go as soon as the last byte has left: the device may answer at once.
    config.delay_rts_after_send = 0;
    if (driver.SetRs485(fd, config)) return RtsControl::kKernel;
  }
  // A CDC-ACM device keeps RTS as the driver raised it at open, as it does for any terminal.
  if (driver.IsCdcAcm(fd)) return RtsControl::kUnavailable;
  // Drivers raise RTS at open; it stays down until there is something to send.
  return driver.SetRts(fd, false) ? RtsControl::kByPort : RtsControl::kUnavailable;
}

// The group that owns the device: dialout on Debian, uucp or tty elsewhere.
std::string DeviceGroup(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "";
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(4096);
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return "";
  }
  return entry.gr_name;
}

}  // namespace

void SerialPort::NativeDeleter::operator()(Native* native) const {
  delete native;
}

bool SerialPort::LineLost() const {
  return native_ != nullptr && native_->lost;
}

void SerialPort::CloseLine() {
  if (!native_) return;
  Native& port = *native_;
  // A USB device that stops reading never lets its bytes go: they are dropped rather than let
  // hold the close, and with it the end of the transfer, for ever.
  if (!port.driver->Drain(port.fd, SteadyClock::now() + kCloseDrainLimit)) {
    port.driver->DiscardUnsent(port.fd);
  }
  ::tcsetattr(port.fd, TCSANOW, &port.changes.saved);
  if (port.changes.rs485) port.driver->SetRs485(port.fd, port.changes.saved_rs485);
  ::ioctl(port.fd, TIOCNXCL);
  UnlistOpenLine(port.changes);
  ::close(port.fd);  // also drops the flock
  native_.reset();
}

std::size_t SerialPort::ReadLine(std::span<std::uint8_t> buffer) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(buffer.size() + 1);
  const std::size_t got = MoveBytes(buffer.size(), POLLIN, deadline, [&](std::size_t done) {
    return ::read(native_->fd, buffer.data() + done, buffer.size() - done);
  });
  return got;
}

std::size_t SerialPort::WriteLine(std::span<const std::uint8_t> bytes) {
  Native& port = *native_;
  const auto start = SteadyClock::now();
  const auto deadline = start + std::chrono::milliseconds(100 * bytes.size() + 100);
  if (port.rts == RtsControl::kByPort) port.driver->SetRts(port.fd, true);
  const std::size_t written = MoveBytes(bytes.size(), POLLOUT, deadline, [&](std::size_t done) {
    return port.driver->Write(port.fd, bytes.subspan(done));
  });
  const std::size_t sent = written == 0 ? 0 : written - AwaitSent(written, deadline);
  if (port.rts == RtsControl::kByPort) {
    // Some adapters report their buffer empty while its last byte is still on the wire; none
    // can have sent the bytes sooner than the line allows.
    const auto line_time =
        std::chrono::duration_cast<SteadyClock::duration>((written + 1) * kByteTime);
    std::this_thread::sleep_until(std::min(deadline, start + line_time));
    port.driver->SetRts(port.fd, false);
  }
  return sent;
}

std::size_t SerialPort::AwaitSent(std::size_t written, SteadyClock::time_point deadline) {
  Native& port = *native_;
  for (;;) {
    const std::size_t counted = port.driver->Unsent(port.fd);
    const std::size_t unsent = std::min(counted, written);
    if (unsent == 0) break;
    const auto now = SteadyClock::now();
    if (now >= deadline) {
      port.driver->DiscardUnsent(port.fd);
      return unsent;
    }
    // A count larger than the write says the driver counts whole buffers (CDC-ACM), not bytes:
    // it is no measure of the time left, so the queue is looked at again shortly.
    const auto left = counted > written
                          ? kOvercountPoll
                          : std::chrono::duration_cast<SteadyClock::duration>(unsent * kByteTime);
    std::this_thread::sleep_until(std::min(deadline, now + left));
  }
  // The count ends where the driver's hardware begins: a UART's FIFO or an adapter's buffer
  // still holds bytes, which the drain waits for.
  if (port.driver->Drain(port.fd, deadline)) return 0;
  port.driver->DiscardUnsent(port.fd);
  return written;
}

template <typename Move>
std::size_t SerialPort::MoveBytes(std::size_t count, short events,
                                  std::chrono::steady_clock::time_point deadline, Move move) {
  std::size_t moved = 0;
  while (moved < count) {
    const ssize_t n = move(moved);
    if (n > 0) {
      moved += static_cast<std::size_t>(n);
      // A reply trickles in at the line's rate: waking for every byte would cost a poll and
      // two reads each, so all but the last of the rest are given the time they need to arrive;
      // the last is polled for, so that the read ends the moment it comes.
      if (events == POLLIN && count - moved > 1) {
        const auto rest =
            std::chrono::duration_cast<SteadyClock::duration>((count - moved - 1) * kByteTime);
        std::this_thread::sleep_until(std::min(deadline, SteadyClock::now() + rest));
      }
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
  return OpenLoaderPort(name, SystemLineDriver());
}

SerialPort OpenLoaderPort(const std::string& name, LineDriver& driver) {
  if (IsNetworkPortName(name)) return OpenNetworkPort(name);
  SerialPort port;
  const std::string path = DevicePathFor(name);
  int fd = -1;
  const auto fail = [&](PortError error, const std::string& detail = "") {
    if (fd >= 0) ::close(fd);
    port.error_ = error;
    port.failure_cause_ = PortFailureCause(error, name, detail);
    return std::move(port);
  };

  fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const PortError error = ErrorFromErrno(errno);
    return fail(error, error == PortError::kInUse              ? FindPortHolder(path)
                       : error == PortError::kPermissionDenied ? DeviceGroup(path)
                                                               : "");
  }
  termios saved{};
  if (::tcgetattr(fd, &saved) != 0) return fail(ErrorFromErrno(errno));
  // Two programs on one line would each read the other's bytes. A terminal program may have
  // the port open without any lock; the flock also keeps out another Kelvo that we cannot
  // look into, and TIOCEXCL later opens by other users.
  const std::string holder = FindPortHolder(path);
  if (!holder.empty()) return fail(PortError::kInUse, holder);
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
    const int error = errno;
    ::ioctl(fd, TIOCNXCL);
    return fail(ErrorFromErrno(error));
  }

  port.native_.reset(new SerialPort::Native);
  port.native_->fd = fd;
  port.native_->driver = &driver;
  LineChanges& changes = port.native_->changes;
  changes.fd = fd;
  changes.saved = saved;
  port.native_->rts = RaiseRtsOnlyWhileSending(driver, fd, changes.saved_rs485);
  changes.rs485 = port.native_->rts == RtsControl::kKernel;
  ListOpenLine(changes);
  return port;
}

}  // namespace kelvo
