#pragma once

#include <linux/serial.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/serial_port.h"

namespace kelvo {

// The calls on an open port whose effect depends on the hardware behind it. A UART sends each
// byte in 10 bit times and has modem lines; a pseudo-terminal has no transmitter, so its
// writes are gone at once, and no modem lines. Everything else the port does is the same on
// both, so only these stand between the port and the system.
class LineDriver {
 public:
  virtual ~LineDriver() = default;

  // write(2) on the non-blocking descriptor: the count queued, or -1 with errno.
  virtual ssize_t Write(int fd, std::span<const std::uint8_t> bytes) = 0;
  // Bytes written that have not fully left the line yet: the driver's queue and, where the
  // UART reports it, a byte still in its transmitter. 0 where the driver cannot tell.
  virtual std::size_t Unsent(int fd) = 0;
  // Drops the bytes that have not left yet.
  virtual void DiscardUnsent(int fd) = 0;
  // Raises or drops RTS; false where the driver has no modem lines.
  virtual bool SetRts(int fd, bool raised) = 0;
  // The kernel's RS-485 mode, which switches RTS itself; false where the driver refuses.
  virtual bool GetRs485(int fd, serial_rs485& config) = 0;
  virtual bool SetRs485(int fd, const serial_rs485& config) = 0;
  // Applies settings once every byte written has left, the last one included, so that no
  // byte goes out at the new speed.
  virtual bool SetAfterDrain(int fd, const termios& settings) = 0;
};

// The system's own calls.
LineDriver& SystemLineDriver();

}  // namespace kelvo
