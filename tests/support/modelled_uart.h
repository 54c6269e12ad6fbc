#pragma once

#include <chrono>
#include <cstddef>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "serial/line_driver_posix.h"

namespace kelvo::testing {

// Stands in for the operating system's driver of a real 9600-baud UART, which a pseudo-terminal
// cannot show: each written byte leaves 1.0417 ms after the one before, the queue drains only
// as they leave, and RTS is recorded with its time. Written bytes also pass to the descriptor
// at once, so a device model on a pseudo-terminal receives them; it times their arrival itself.
class ModelledUart : public LineDriver {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Options {
    // Where the driver takes RS-485 mode (TIOCSRS485): the mode it is in at first.
    std::optional<serial_rs485> rs485{};
    // Bytes that leave before the line stops for good (a stuck adapter, say).
    std::size_t stall_after = std::numeric_limits<std::size_t>::max();
    // Bytes a USB adapter holds in its own buffer and already reports as sent.
    std::size_t adapter_buffer = 0;
  };
  struct RtsChange {
    TimePoint at;
    bool raised;
  };

  explicit ModelledUart(Options options);

  ssize_t Write(int fd, std::span<const std::uint8_t> bytes) override;
  std::size_t Unsent(int fd) override;
  void DiscardUnsent(int fd) override;
  bool SetRts(int fd, bool raised) override;
  bool GetRs485(int fd, serial_rs485& config) override;
  bool SetRs485(int fd, const serial_rs485& config) override;
  bool SetAfterDrain(int fd, const termios& settings) override;

  // When each byte written began to be written, and when it had left the line (max() for one
  // that never leaves), in order.
  std::vector<TimePoint> Written() const { return Locked(written_); }
  std::vector<TimePoint> Departures() const { return Locked(departures_); }
  std::vector<RtsChange> RtsChanges() const { return Locked(rts_); }
  serial_rs485 Rs485() const { return Locked(rs485_).value_or(serial_rs485{}); }
  std::optional<TimePoint> SettingsRestored() const { return Locked(restored_); }

 private:
  std::size_t LeftToSend(TimePoint now) const;  // with mutex_ held
  template <typename T>
  T Locked(const T& member) const {  // a copy, taken with mutex_ held
    const std::lock_guard lock(mutex_);
    return member;
  }

  const Options options_;
  mutable std::mutex mutex_;
  std::vector<TimePoint> written_;
  std::vector<TimePoint> departures_;
  std::vector<RtsChange> rts_;
  std::optional<serial_rs485> rs485_;
  std::optional<TimePoint> restored_;
};

}  // namespace kelvo::testing
