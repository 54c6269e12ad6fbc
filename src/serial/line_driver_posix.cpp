#include "serial/line_driver_posix.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "serial/time_limit_posix.h"

namespace kelvo {
namespace {

class SystemDriver : public LineDriver {
 public:
  ssize_t Write(int fd, std::span<const std::uint8_t> bytes) override {
    return ::write(fd, bytes.data(), bytes.size());
  }

  std::size_t Unsent(int fd) override {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
    if (queued > 0) return static_cast<std::size_t>(queued);
    // The queue empties when the UART takes its last byte, a byte time before it has left.
    unsigned int status = 0;
    const bool sending = ::ioctl(fd, TIOCSERGETLSR, &status) == 0 && (status & TIOCSER_TEMT) == 0;
    return sending ? 1 : 0;
  }

  void DiscardUnsent(int fd) override { ::tcflush(fd, TCOFLUSH); }

  // tcdrain has no time limit: a USB device that stops reading would hold it for ever.
  bool Drain(int fd, TimePoint deadline) override {
    return CallBefore(deadline, [fd] { return ::tcdrain(fd); }) == 0 ||
           std::chrono::steady_clock::now() < deadline;
  }

  bool IsCdcAcm(int fd) override {
    char path[256] = {};
    if (::ttyname_r(fd, path, sizeof path) != 0) return false;
    const std::filesystem::path driver = std::filesystem::path("/sys/class/tty") /
                                         std::filesystem::path(path).filename() / "device/driver";
    std::error_code error;
    return std::filesystem::read_symlink(driver, error).filename() == "cdc_acm";
  }

  bool SetRts(int fd, bool raised) override {
    const int rts = TIOCM_RTS;
    return ::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &rts) == 0;
  }

  bool GetRs485(int fd, serial_rs485& config) override {
    return ::ioctl(fd, TIOCGRS485, &config) == 0;
  }

  bool SetRs485(int fd, const serial_rs485& config) override {
    serial_rs485 copy = config;
    return ::ioctl(fd, TIOCSRS485, &copy) == 0;
  }
};

}  // namespace

LineDriver& SystemLineDriver() {
  static SystemDriver driver;
  return driver;
}

}  // namespace kelvo
