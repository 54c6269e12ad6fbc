#include "driver_personalities.h"

#include <algorithm>
#include <cstdint>
#include <thread>

#include "serial/protocol.h"

namespace kelvo::testing {
namespace {

using std::chrono::milliseconds;

constexpr DWORD kFifoBytes = 16;

// serial.sys's reads, over Wine's, which return at once only when the count asked is buffered.
BOOL ReadAsSerialSys(LineDriver& wine, HANDLE port, void* bytes, DWORD count, DWORD& moved) {
  COMMTIMEOUTS timeouts{};
  ::GetCommTimeouts(port, &timeouts);
  const auto deadline =
      SteadyClock::now() +
      milliseconds(timeouts.ReadTotalTimeoutMultiplier * count + timeouts.ReadTotalTimeoutConstant);
  auto* at = static_cast<std::uint8_t*>(bytes);
  moved = 0;
  COMSTAT status{};
  for (;;) {
    if (!wine.ClearError(port, status)) return FALSE;
    if (status.cbInQue > 0 || moved > 0 || SteadyClock::now() >= deadline) break;
    // On an empty buffer, Wine's one-byte reads of 2 ms each wait for the first byte.
    if (!wine.Read(port, at, 1, moved)) return FALSE;
  }
  DWORD rest = 0;
  const BOOL read = wine.Read(port, at + moved, std::min(count - moved, status.cbInQue), rest);
  moved += rest;
  return read;
}

}  // namespace

BOOL WineDriver::GetState(HANDLE port, DCB& settings) {
  const BOOL got = wine_.GetState(port, settings);
  if (got && !found) found = settings;
  return got;
}

BOOL WineDriver::SetState(HANDLE port, DCB& settings) {
  given.push_back(settings);
  return wine_.SetState(port, settings);
}

BOOL WineDriver::Escape(HANDLE port, DWORD function) {
  if (!wine_.Escape(port, function)) return FALSE;
  if (function == SETRTS || function == CLRRTS)
    rts.push_back({SteadyClock::now(), function == SETRTS});
  return TRUE;
}

BOOL WineDriver::Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) {
  return wine_.Read(port, bytes, count, moved);
}

BOOL WineDriver::Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) {
  return wine_.Write(port, bytes, count, moved);
}

BOOL WineDriver::Flush(HANDLE port) {
  const BOOL flushed_all = wine_.Flush(port);
  flushed = SteadyClock::now();
  return flushed_all;
}

BOOL WineDriver::ClearError(HANDLE port, COMSTAT& status) {
  return wine_.ClearError(port, status);
}

BOOL WineDriver::Purge(HANDLE port, DWORD flags) {
  return wine_.Purge(port, flags);
}

BOOL SerialSys::GetState(HANDLE port, DCB& settings) {
  if (!wine_.GetState(port, settings)) return FALSE;
  settings.fOutxCtsFlow = TRUE;
  settings.fOutxDsrFlow = TRUE;
  settings.fNull = TRUE;
  settings.fDtrControl = DTR_CONTROL_DISABLE;
  if (!found) found = settings;
  return TRUE;
}

BOOL SerialSys::SetState(HANDLE port, DCB& settings) {
  given.push_back(settings);
  DCB wine = settings;  // Wine refuses to toggle
  if (wine.fRtsControl == RTS_CONTROL_TOGGLE) wine.fRtsControl = RTS_CONTROL_ENABLE;
  return wine_.SetState(port, wine);
}

BOOL SerialSys::Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) {
  return ReadAsSerialSys(wine_, port, bytes, count, moved);
}

// The simulator takes the bytes at 9600 baud itself, from when Wine has them.
BOOL SerialSys::Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) {
  const auto start = SteadyClock::now();
  if (!wine_.Write(port, bytes, count, moved)) return FALSE;
  in_fifo_ = start + (std::max(moved, kFifoBytes) - kFifoBytes) * kByteTime;
  std::this_thread::sleep_until(in_fifo_);
  return TRUE;
}

BOOL SerialSys::Flush(HANDLE) {
  std::this_thread::sleep_until(in_fifo_);
  flushed = SteadyClock::now();
  return TRUE;
}

BOOL VendorUsb::SetState(HANDLE port, DCB& settings) {
  given.push_back(settings);
  if (settings.fRtsControl == RTS_CONTROL_TOGGLE) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return wine_.SetState(port, settings);
}

BOOL VendorUsb::Escape(HANDLE port, DWORD function) {
  if (function != SETRTS && function != CLRRTS) return wine_.Escape(port, function);
  rts.push_back({SteadyClock::now(), function == SETRTS});
  return TRUE;
}

BOOL VendorUsb::Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) {
  return ReadAsSerialSys(wine_, port, bytes, count, moved);
}

BOOL VendorUsb::Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) {
  written_ = SteadyClock::now();
  return wine_.Write(port, bytes, count, moved);
}

BOOL VendorUsb::Flush(HANDLE) {
  std::this_thread::sleep_until(written_ + milliseconds(1));
  flushed = SteadyClock::now();
  return TRUE;
}

BOOL StalledDevice::Write(HANDLE, const void*, DWORD count, DWORD& moved) {
  queued_ += count;
  since_ = SteadyClock::now();
  moved = count;
  return TRUE;
}

BOOL StalledDevice::ClearError(HANDLE port, COMSTAT& status) {
  if (!wine_.ClearError(port, status)) return FALSE;
  if (SteadyClock::now() - since_ > std::chrono::seconds(3)) queued_ = 0;
  status.cbOutQue = queued_;
  return TRUE;
}

BOOL StalledDevice::Purge(HANDLE port, DWORD flags) {
  if ((flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0) queued_ = 0;
  return wine_.Purge(port, flags);
}

BOOL UnpluggedDevice::Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) {
  if (!written_) return wine_.Read(port, bytes, count, moved);
  moved = 0;
  if (delivered_ == kDeliveredBeforeRemoval) return TRUE;
  const BOOL read =
      wine_.Read(port, bytes, std::min(count, kDeliveredBeforeRemoval - delivered_), moved);
  delivered_ += moved;
  return read;
}

BOOL UnpluggedDevice::Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) {
  written_ = true;
  if (delivered_ < kDeliveredBeforeRemoval) return wine_.Write(port, bytes, count, moved);
  moved = 0;
  ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
  return FALSE;
}

BOOL UnpluggedDevice::ClearError(HANDLE port, COMSTAT& status) {
  if (delivered_ < kDeliveredBeforeRemoval) return wine_.ClearError(port, status);
  ::SetLastError(ERROR_BAD_COMMAND);
  return FALSE;
}

}  // namespace kelvo::testing
