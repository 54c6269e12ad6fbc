#pragma once

#include <linux/serial.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/serial_port.h"

namespace kelvo {

// The calls on an open port whose effect depends on the driver behind it. A UART sends each
// byte in 10 bit times and counts its queue exactly; a USB adapter takes bytes into a buffer of
// its own and no longer counts them; a CDC-ACM device has no UART at all and counts whole USB
// buffers; a pseudo-terminal has no transmitter and no modem lines. Everything else the port
// does is the same on all of them, so only these stand between the port and the system.
class LineDriver {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~LineDriver() = default;

  // write(2) on the non-blocking descriptor: the count queued, or -1 with errno.
  virtual ssize_t Write(int fd, std::span<const std::uint8_t> bytes) = 0;
  // Bytes written that have not left yet as far as the driver counts them (TIOCOUTQ, and the
  // byte in the transmitter where the UART reports it); a driver may count more than it holds.
  virtual std::size_t Unsent(int fd) = 0;
  // Drops the bytes that have not left yet.
  virtual void DiscardUnsent(int fd) = 0;
  // Waits until the driver reports every written byte gone, the last one's stop bit included
  // where the driver can tell (tcdrain); false if the deadline came first.
  virtual bool Drain(int fd, TimePoint deadline) = 0;
  // True for a CDC-ACM device, whose line ends in the device's own USB port: no UART paces
  // its bytes and RTS switches no transceiver.
  virtual bool IsCdcAcm(int fd) = 0;
  // Raises or drops RTS; false where the driver has no modem lines.
  virtual bool SetRts(int fd, bool raised) = 0;
  // The kernel's RS-485 mode, which switches RTS itself; false where the driver refuses.
  virtual bool GetRs485(int fd, serial_rs485& config) = 0;
  virtual bool SetRs485(int fd, const serial_rs485& config) = 0;
};

// The system's own calls.
LineDriver& SystemLineDriver();

}  // namespace kelvo
