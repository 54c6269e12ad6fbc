#pragma once

#include <chrono>
#include <cstddef>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "serial/line_driver_posix.h"

namespace kelvo::testing {

// The kinds of Linux serial driver a port meets, as the port's calls see them. Written bytes
// pass to the pseudo-terminal at once, so that a device model behind it gets them; the double
// keeps the times at which the driver would have them leave and answers as that driver does.
enum class Driver {
  // 8250/16550 UART (serial core): bytes leave 1.0417 ms apart; TIOCOUTQ counts the queue
  // exactly and TIOCSERGETLSR's TEMT the byte in the transmitter; tcdrain waits for TEMT;
  // modem lines; RS-485 mode where the board wires it.
  kUart16550,
  // A USB serial adapter (ftdi_sio, cp210x, ch341, pl2303): the adapter takes up to 256 bytes
  // into its own buffer at once and TIOCOUTQ counts only what it has not taken; no LSR;
  // tcdrain returns once the adapter is empty; modem lines; RS-485 mode refused.
  kUsbAdapter,
  // cdc-acm (a device with native USB): no UART paces the bytes; a write is one USB transfer
  // that completes about 1 ms later, and until then TIOCOUTQ counts 1280 bytes (a whole
  // full-speed write buffer, which the driver's own source calls an overcount); tcdrain returns
  // once the transfer has completed; RTS is a request to the device; RS-485 mode refused.
  kCdcAcm,
};

class LineDouble : public LineDriver {
 public:
  struct RtsChange {
    TimePoint at;
    bool raised;
  };

  // rs485: the mode the driver is in at first, where it takes RS-485 mode (TIOCSRS485).
  explicit LineDouble(Driver driver, std::optional<serial_rs485> rs485 = std::nullopt)
      : driver_(driver), rs485_(rs485) {}

  ssize_t Write(int fd, std::span<const std::uint8_t> bytes) override;
  std::size_t Unsent(int fd) override;
  void DiscardUnsent(int fd) override;
  bool SetRts(int fd, bool raised) override;
  bool GetRs485(int fd, serial_rs485& config) override;
  bool SetRs485(int fd, const serial_rs485& config) override;
  bool Drain(int fd, TimePoint deadline) override;
  bool IsCdcAcm(int) override { return driver_ == Driver::kCdcAcm; }

  // The device stops taking bytes after this many more: the rest never leave, and flushing the
  // driver does not take them back (they wait in a USB transfer that never completes).
  void StopAfter(std::size_t more) {
    const std::lock_guard lock(mutex_);
    stop_after_ = departures_.size() + more;
  }
  // When each byte written had left the line (max() for one that never leaves), in order.
  std::vector<TimePoint> Departures() const { return Locked(departures_); }
  std::vector<RtsChange> RtsChanges() const { return Locked(rts_); }
  std::size_t Discards() const { return Locked(discards_); }
  serial_rs485 Rs485() const { return Locked(rs485_).value_or(serial_rs485{}); }

 private:
  template <typename T>
  T Locked(const T& member) const {  // a copy, taken with mutex_ held
    const std::lock_guard lock(mutex_);
    return member;
  }

  const Driver driver_;
  mutable std::mutex mutex_;
  std::size_t stop_after_ = std::numeric_limits<std::size_t>::max();
  std::vector<TimePoint> departures_;
  std::vector<RtsChange> rts_;
  std::size_t discards_ = 0;
  std::optional<serial_rs485> rs485_;
};

}  // namespace kelvo::testing
