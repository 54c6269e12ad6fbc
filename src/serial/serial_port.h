#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kelvo {

// How long Close lets written bytes drain before it drops them.
inline constexpr std::chrono::milliseconds kCloseDrainLimit{500};

// Why a port could not be opened, for front ends that explain more than "Failed".
enum class PortError {
  kNone,
  kNoSuchPort,
  kNoUart,  // the device node is there, but no UART behind it answers (a spare /dev/ttyS)
  kInUse,
  kPermissionDenied,
  kNotASerialPort,
  kNoConnection,  // a network port's server refused the connection or did not answer
  kOther
};

// Sees every byte that crosses a port, both ways, as it happens (one call per burst).
class PortTap {
 public:
  enum class Direction { kSent, kReceived };
  virtual ~PortTap() = default;
  virtual void OnBytes(Direction direction, std::span<const std::uint8_t> bytes) = 0;
};

// The operating system's calls on an open port where a real line and a pseudo-terminal differ
// (line_driver_posix.h, line_driver_win32.h); tests put a model of a real line in their place.
class LineDriver;
// The connection behind a network port (network_port.h).
class NetworkLink;

// A serial line opened for exclusive use and set up for the loader: 9600 baud, 8 data bits, no
// parity, one stop bit, raw, no flow control, RTS raised only while sending where the driver
// can do that; or a serial line behind a device server on the network (network_port.h). A
// default-constructed port is the invalid handle.
class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(SerialPort&& other) noexcept;
  SerialPort& operator=(SerialPort&& other) noexcept;

  bool IsOpen() const;
  PortError Error() const { return error_; }
  // Why the open failed, in one sentence for the operator ("/dev/ttyUSB0 is in use by minicom
  // (process 4242)"); empty when it did not fail.
  const std::string& FailureCause() const { return failure_cause_; }
  // True once a read or write found the line gone (a USB adapter pulled out, the other end of
  // a pseudo-terminal closed): nothing will cross it again.
  bool Lost() const;

  // Returns as soon as buffer.size() bytes have arrived, and at the latest buffer.size() + 1 ms
  // after the call, with the count that arrived: possibly 0, which is an ordinary outcome.
  std::size_t Read(std::span<std::uint8_t> buffer);

  // Returns once the bytes have left the line as far as the driver can tell, not when the system
  // has merely queued them, so that a reply's time starts when the device can have seen the
  // whole write; and no later, whatever the driver reports: a queue count larger than this write
  // can still hold is no reason to wait. Where the port raises RTS by hand it stays raised until
  // the write's start plus the line time of its bytes and one byte more, and until the driver
  // reports the line empty. Gives up after 100 ms per byte plus 100 ms, dropping what has not
  // left by then; returns the count that left (0 on failure).
  std::size_t Write(std::span<const std::uint8_t> bytes);

  // Lets bytes still on their way leave for at most kCloseDrainLimit, drops any left then (a
  // USB device that stops reading never takes them), puts the line's earlier settings back at
  // once and releases it; the port is then the invalid handle.
  void Close();

  void SetTap(PortTap* tap) { tap_ = tap; }

 private:
  friend SerialPort OpenLoaderPort(const std::string& name, LineDriver& driver);
  friend SerialPort OpenNetworkPort(const std::string& name);
  // A serial line's side of Read, Write, Close and Lost, in each system's back end.
  std::size_t ReadLine(std::span<std::uint8_t> buffer);
  std::size_t WriteLine(std::span<const std::uint8_t> bytes);
  void CloseLine();
  bool LineLost() const;
  // Each system's back end defines its handle and how it is let go.
  struct Native;
  struct NativeDeleter {
    void operator()(Native* native) const;
  };
  // Waits until the driver reports the written bytes gone or the deadline has passed; returns
  // the count of them left unsent then, which is dropped.
  std::size_t AwaitSent(std::size_t written, std::chrono::steady_clock::time_point deadline);
  // Reads or writes with move until count bytes have moved, the deadline has passed or the
  // line is gone; returns the count moved.
  template <typename Move>
  std::size_t MoveBytes(std::size_t count, short events,
                        std::chrono::steady_clock::time_point deadline, Move move);
  std::unique_ptr<Native, NativeDeleter> native_;
  std::unique_ptr<NetworkLink> network_;
  PortError error_ = PortError::kNone;
  std::string failure_cause_;
  PortTap* tap_ = nullptr;
};

// Opens the named port for the loader, or returns the invalid handle (with Error() and
// FailureCause() set) and leaves nothing open. See DevicePathFor for the serial names it
// accepts; "rfc2217://HOST:PORT" and "tcp://HOST:PORT" open network ports (network_port.h).
SerialPort OpenLoaderPort(const std::string& name);
// The same, with the given calls in place of the system's.
SerialPort OpenLoaderPort(const std::string& name, LineDriver& driver);

// Operators type Windows-style names. On Linux "COMn" is /dev/ttyS(n-1), "USBn" is
// /dev/ttyUSBn, "ACMn" is /dev/ttyACMn, a name holding '/' is a path and any other is in /dev/.
// On Windows "COMn" is \\.\COMn, so that COM10 and above open too; any other name is used
// as typed.
std::string DevicePathFor(const std::string& name);

// The sentence that says why the named port did not open. detail names who has it, for kInUse
// ("minicom (process 4242)"), and the group that may use it, for kPermissionDenied ("dialout");
// empty when not known.
std::string PortFailureCause(PortError error, const std::string& name, const std::string& detail);

}  // namespace kelvo
