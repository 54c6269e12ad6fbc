#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kelvo {

// Why a port could not be opened, for front ends that explain more than "Failed".
enum class PortError { kNone, kNoSuchPort, kInUse, kPermissionDenied, kNotASerialPort, kOther };

// Sees every byte that crosses a port, both ways, as it happens (one call per burst).
class PortTap {
 public:
  enum class Direction { kSent, kReceived };
  virtual ~PortTap() = default;
  virtual void OnBytes(Direction direction, std::span<const std::uint8_t> bytes) = 0;
};

// A serial line opened for exclusive use and set up for the loader: 9600 baud, 8 data bits, no
// parity, one stop bit, raw, no flow control. A default-constructed port is the invalid handle.
class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(SerialPort&& other) noexcept;
  SerialPort& operator=(SerialPort&& other) noexcept;

  bool IsOpen() const;
  PortError Error() const { return error_; }
  // True once a read or write found the line gone (a USB adapter pulled out, the other end of
  // a pseudo-terminal closed): nothing will cross it again.
  bool Lost() const;

  // Returns as soon as buffer.size() bytes have arrived, and at the latest buffer.size() + 1 ms
  // after the call, with the count that arrived: possibly 0, which is an ordinary outcome.
  std::size_t Read(std::span<std::uint8_t> buffer);

  // Gives up after 100 ms per byte plus 100 ms; returns the count written (0 on failure).
  std::size_t Write(std::span<const std::uint8_t> bytes);

  // Releases the line; the port is then the invalid handle.
  void Close();

  void SetTap(PortTap* tap) { tap_ = tap; }

 private:
  friend SerialPort OpenLoaderPort(const std::string& name);
  struct Native;
  // Reads or writes with move until count bytes have moved, the deadline has passed or the
  // line is gone; returns the count moved.
  template <typename Move>
  std::size_t MoveBytes(std::size_t count, short events,
                        std::chrono::steady_clock::time_point deadline, Move move);
  std::unique_ptr<Native> native_;
  PortError error_ = PortError::kNone;
  PortTap* tap_ = nullptr;
};

// Opens the named port for the loader, or returns the invalid handle (with Error() set) and
// leaves nothing open. See DevicePathFor for the names it accepts.
SerialPort OpenLoaderPort(const std::string& name);

// Operators type Windows-style names; on this system "COMn" is /dev/ttyS(n-1), "USBn" is
// /dev/ttyUSBn, "ACMn" is /dev/ttyACMn, a name holding '/' is a path and any other is in /dev/.
std::string DevicePathFor(const std::string& name);

}  // namespace kelvo
