#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "serial/line_driver_win32.h"
#include "serial/network_port.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace kelvo {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A read of k bytes may wait k + 1 ms on an empty line, with the time-outs set at open.
constexpr std::chrono::milliseconds kShortestReadWait{2};

SteadyClock::duration LineTime(std::size_t bytes) {
  return std::chrono::duration_cast<SteadyClock::duration>(bytes * kByteTime);
}

// MinGW's sleep_until sleeps once, in whole milliseconds, and wakes up to 0.9 ms early; the
// times slept for here are lower bounds.
void SleepUntil(SteadyClock::time_point at) {
  for (auto now = SteadyClock::now(); now < at; now = SteadyClock::now()) {
    std::this_thread::sleep_for(at - now);
  }
}

}  // namespace

// How RTS comes to be raised only while the port sends.
enum class RtsControl {
  kDriver,       // the driver toggles it
  kByPort,       // raised before each write and dropped once its bytes have left
  kUnavailable,  // the driver refuses both (Wine on a pseudo-terminal): left as it is
};

struct SerialPort::Native {
  HANDLE handle = INVALID_HANDLE_VALUE;
  LineDriver* driver = nullptr;
  bool lost = false;
  RtsControl rts = RtsControl::kUnavailable;
  // Put back on close: the standard driver keeps them for the next program.
  std::optional<DCB> found_settings;
  COMMTIMEOUTS found_timeouts{};

  // Asks the driver what it holds. This also clears a line error (framing, overrun, break),
  // which makes it fail every later read and write until then. A port that cannot even be asked
  // has gone.
  bool Status(COMSTAT& status) {
    lost = lost || !driver->ClearError(handle, status);
    return !lost;
  }
  void ClearLineError() {
    COMSTAT status{};
    Status(status);
  }
  // Drivers fail reads and writes with these once their USB adapter has been pulled out, and some
  // still answer ClearCommError then.
  void Failed(DWORD error) {
    if (error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_BAD_COMMAND ||
        error == ERROR_GEN_FAILURE) {
      lost = true;
    } else {
      ClearLineError();
    }
  }

  // How many bytes the next read of the rest may ask for; 0 when the read is over. A reply
  // trickles in at the line's rate, so all but the last of the rest are given their time first:
  // a few wake-ups, not one per byte. A read asks for no more than it can wait for before the
  // deadline, unless they are here already; in the last 2 ms it takes only those, at the deadline.
  DWORD NextAsk(std::size_t rest, SteadyClock::time_point deadline) {
    COMSTAT status{};
    if (!Status(status)) return 0;
    const std::size_t coming = rest - std::min<std::size_t>(rest, status.cbInQue + 1);
    if (coming > 0) {
      SleepUntil(std::min(deadline - kShortestReadWait, SteadyClock::now() + LineTime(coming)));
      if (!Status(status)) return 0;
    }
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return 0;
    if (left < kShortestReadWait) {
      SleepUntil(deadline);
      if (!Status(status)) return 0;
      return static_cast<DWORD>(std::min<std::size_t>(rest, status.cbInQue));
    }
    const auto waitable =
        std::chrono::duration_cast<std::chrono::milliseconds>(left) - std::chrono::milliseconds(1);
    return static_cast<DWORD>(std::min<std::size_t>(
        rest, std::max<std::size_t>(status.cbInQue, static_cast<std::size_t>(waitable.count()))));
  }
};

namespace {

PortError ErrorFromLastError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
      return PortError::kNoSuchPort;
    // Windows refuses a port that another program holds as access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return PortError::kInUse;
    default:
      return PortError::kOther;
  }
}

// On an RS-485 adapter RTS switches the transmitter on, and a device cannot answer while it
// stays on. Some drivers refuse to toggle it (Wine does, and so do some USB adapters'); rather
// than refuse the port, the port then raises and drops it around each write.
bool ApplySettings(LineDriver& driver, HANDLE handle, DCB& settings, RtsControl& rts) {
  settings.fRtsControl = RTS_CONTROL_TOGGLE;
  if (driver.SetState(handle, settings)) {
    rts = RtsControl::kDriver;
    return true;
  }
  settings.fRtsControl = RTS_CONTROL_DISABLE;
  if (!driver.SetState(handle, settings)) return false;
  rts = driver.Escape(handle, CLRRTS) ? RtsControl::kByPort : RtsControl::kUnavailable;
  return true;
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
  // A USB device that stops reading never takes what is queued, and a flush would wait for it
  // for ever: the bytes get kCloseDrainLimit to leave, and are dropped then.
  const auto limit = SteadyClock::now() + kCloseDrainLimit;
  COMSTAT status{};
  while (port.Status(status) && status.cbOutQue > 0 && SteadyClock::now() < limit) {
    SleepUntil(std::min(limit, SteadyClock::now() + LineTime(status.cbOutQue)));
  }
  port.driver->Purge(port.handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  if (port.found_settings) port.driver->SetState(port.handle, *port.found_settings);
  ::SetCommTimeouts(port.handle, &port.found_timeouts);
  ::CloseHandle(port.handle);
  ::timeEndPeriod(1);
  native_.reset();
}

// With the time-outs set at open, Wine's driver ends a read at its whole count or one
// millisecond per byte plus one, but the standard driver, and USB drivers that copy it, return
// at once with what is buffered. The read goes on against its own deadline, as on POSIX.
std::size_t SerialPort::ReadLine(std::span<std::uint8_t> buffer) {
  Native& port = *native_;
  const std::size_t count = buffer.size();
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(count + 1);
  std::size_t moved = 0;
  for (auto ask = static_cast<DWORD>(count); ask > 0; ask = port.NextAsk(count - moved, deadline)) {
    DWORD got = 0;
    if (!port.driver->Read(port.handle, buffer.data() + moved, ask, got)) {
      port.Failed(::GetLastError());
      break;
    }
    moved += got;
    if (moved == count) break;
  }
  return moved;
}

// The write time-outs give up at 100 ms per byte plus 100 ms. The flush holds the call until
// the driver has passed the bytes on, to the UART's FIFO or to the USB adapter, where many USB
// drivers' writes return at once.
std::size_t SerialPort::WriteLine(std::span<const std::uint8_t> bytes) {
  Native& port = *native_;
  const auto start = SteadyClock::now();
  const bool rts_by_hand = port.rts == RtsControl::kByPort;
  if (rts_by_hand) port.driver->Escape(port.handle, SETRTS);
  DWORD sent = 0;
  if (!port.driver->Write(port.handle, bytes.data(), static_cast<DWORD>(bytes.size()), sent)) {
    port.Failed(::GetLastError());
    sent = 0;
  }
  port.driver->Flush(port.handle);
  if (rts_by_hand) {
    // A USB adapter's flush returns once the bytes are in the adapter, and the standard driver's
    // with up to 16 still in its FIFO: RTS stays up until they can have left, and a byte more.
    SleepUntil(start + LineTime(sent + 1));
    port.driver->Escape(port.handle, CLRRTS);
  }
  return sent;
}

SerialPort OpenLoaderPort(const std::string& name) {
  return OpenLoaderPort(name, SystemLineDriver());
}

SerialPort OpenLoaderPort(const std::string& name, LineDriver& driver) {
  if (IsNetworkPortName(name)) return OpenNetworkPort(name);
  SerialPort port;
  const auto fail = [&](PortError error, HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    port.error_ = error;
    port.failure_cause_ = PortFailureCause(error, name, "");
    return std::move(port);
  };

  // Share mode 0: the port is ours alone until it is closed.
  const HANDLE handle = ::CreateFileA(DevicePathFor(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return fail(ErrorFromLastError(::GetLastError()), INVALID_HANDLE_VALUE);
  }
  ::SetupComm(handle, 256, 256);
  DCB settings{};
  settings.DCBlength = sizeof settings;
  const bool is_serial = driver.GetState(handle, settings);
  const DCB found_settings = settings;
  settings.BaudRate = CBR_9600;
  settings.ByteSize = 8;
  settings.Parity = NOPARITY;
  settings.StopBits = ONESTOPBIT;
  settings.fAbortOnError = TRUE;
  // The standard driver keeps what the previous program set: flow control or a dropped DTR
  // would hold the line up, and fNull would drop the blocks' zero bytes.
  settings.fBinary = TRUE;
  settings.fNull = FALSE;
  settings.fOutxCtsFlow = FALSE;
  settings.fOutxDsrFlow = FALSE;
  settings.fDsrSensitivity = FALSE;
  settings.fOutX = FALSE;
  settings.fInX = FALSE;
  settings.fDtrControl = DTR_CONTROL_ENABLE;
  RtsControl rts = RtsControl::kUnavailable;
  if (!ApplySettings(driver, handle, settings, rts)) {
    return fail(is_serial ? PortError::kOther : PortError::kNotASerialPort, handle);
  }

  COMMTIMEOUTS found_timeouts{};
  ::GetCommTimeouts(handle, &found_timeouts);
  COMMTIMEOUTS timeouts = found_timeouts;
  // The standard driver's rule for these: a read takes what is buffered at once, and waits for
  // up to the total only for a first byte. Wine waits for the whole count; Read copes with both.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 1;
  timeouts.ReadTotalTimeoutConstant = 1;
  timeouts.WriteTotalTimeoutMultiplier = 100;
  timeouts.WriteTotalTimeoutConstant = 100;
  if (!::SetCommTimeouts(handle, &timeouts)) return fail(PortError::kOther, handle);

  // Windows rounds sleeps up to its 15.6 ms tick, which would carry a read far past its deadline.
  ::timeBeginPeriod(1);
  port.native_.reset(new SerialPort::Native);
  port.native_->handle = handle;
  port.native_->driver = &driver;
  port.native_->rts = rts;
  if (is_serial) port.native_->found_settings = found_settings;
  port.native_->found_timeouts = found_timeouts;
  return port;
}

}  // namespace kelvo
