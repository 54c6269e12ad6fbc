#include <windows.h>

#include <algorithm>

#include "serial/line_driver_win32.h"
#include "serial/serial_port.h"

namespace kelvo {

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

  // A line error (framing, overrun, break) makes the driver fail every later read and write
  // until it is cleared; cleared here, the next one can succeed. A port that cannot even be
  // asked about its errors has gone.
  void ClearLineError() {
    COMSTAT status{};
    lost = lost || !driver->ClearError(handle, status);
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
// than refuse the port, the port then raises and drops it around each write, whose bytes have
// all left when it returns.
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

bool SerialPort::Lost() const {
  return native_ != nullptr && native_->lost;
}

void SerialPort::Close() {
  if (!native_) return;
  ::CloseHandle(native_->handle);
  native_.reset();
}

// The time-outs end the read: at the count asked for, or one millisecond per byte plus one.
std::size_t SerialPort::Read(std::span<std::uint8_t> buffer) {
  if (!native_ || buffer.empty()) return 0;
  Native& port = *native_;
  DWORD got = 0;
  if (!port.driver->Read(port.handle, buffer.data(), static_cast<DWORD>(buffer.size()), got)) {
    port.ClearLineError();
    got = 0;
  }
  if (tap_ && got > 0) tap_->OnBytes(PortTap::Direction::kReceived, buffer.first(got));
  return got;
}

// The write time-outs give up at 100 ms per byte plus 100 ms. The flush holds the call until
// the bytes have left, as the standard driver's write already does and many USB drivers'
// writes do not.
std::size_t SerialPort::Write(std::span<const std::uint8_t> bytes) {
  if (!native_ || bytes.empty()) return 0;
  Native& port = *native_;
  if (port.rts == RtsControl::kByPort) port.driver->Escape(port.handle, SETRTS);
  DWORD sent = 0;
  if (!port.driver->Write(port.handle, bytes.data(), static_cast<DWORD>(bytes.size()), sent)) {
    port.ClearLineError();
    sent = 0;
  }
  port.driver->Flush(port.handle);
  if (port.rts == RtsControl::kByPort) port.driver->Escape(port.handle, CLRRTS);
  if (tap_ && sent > 0) tap_->OnBytes(PortTap::Direction::kSent, bytes.first(sent));
  return sent;
}

SerialPort OpenLoaderPort(const std::string& name) {
  return OpenLoaderPort(name, SystemLineDriver());
}

SerialPort OpenLoaderPort(const std::string& name, LineDriver& driver) {
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
  settings.BaudRate = CBR_9600;
  settings.ByteSize = 8;
  settings.Parity = NOPARITY;
  settings.StopBits = ONESTOPBIT;
  settings.fAbortOnError = TRUE;
  settings.fOutxCtsFlow = FALSE;
  settings.fDsrSensitivity = FALSE;
  settings.fOutX = FALSE;
  settings.fInX = FALSE;
  RtsControl rts = RtsControl::kUnavailable;
  if (!ApplySettings(driver, handle, settings, rts)) {
    return fail(is_serial ? PortError::kOther : PortError::kNotASerialPort, handle);
  }

  COMMTIMEOUTS timeouts{};
  ::GetCommTimeouts(handle, &timeouts);
  // No pause between bytes ends a read early; the total ends it.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 1;
  timeouts.ReadTotalTimeoutConstant = 1;
  timeouts.WriteTotalTimeoutMultiplier = 100;
  timeouts.WriteTotalTimeoutConstant = 100;
  if (!::SetCommTimeouts(handle, &timeouts)) return fail(PortError::kOther, handle);

  port.native_.reset(new SerialPort::Native);
  port.native_->handle = handle;
  port.native_->driver = &driver;
  port.native_->rts = rts;
  return port;
}

}  // namespace kelvo
