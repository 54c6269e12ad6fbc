#pragma once

// Models of Windows serial drivers at the port's seam, for what Wine cannot show. Each wraps Wine's
// own driver for COM5, so that the simulator behind it still sees every byte that reaches the line.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "serial/line_driver_win32.h"
#include "serial/protocol.h"

namespace kelvo::testing {

using SteadyClock = std::chrono::steady_clock;

// Wine on a pseudo-terminal, as measured: a read waits for its whole count or its total
// time-out, a write and a flush return at once, RTS_CONTROL_TOGGLE and EscapeCommFunction fail.
// Records the settings the port found and gave.
class WineDriver : public LineDriver {
 public:
  BOOL GetState(HANDLE port, DCB& settings) override {
    const BOOL got = wine_.GetState(port, settings);
    if (got && !found) found = settings;
    return got;
  }
  BOOL SetState(HANDLE port, DCB& settings) override {
    given.push_back(settings);
    return wine_.SetState(port, settings);
  }
  BOOL Escape(HANDLE port, DWORD function) override { return wine_.Escape(port, function); }
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override {
    return wine_.Read(port, bytes, count, moved);
  }
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override {
    return wine_.Write(port, bytes, count, moved);
  }
  BOOL Flush(HANDLE port) override { return wine_.Flush(port); }
  BOOL ClearError(HANDLE port, COMSTAT& status) override { return wine_.ClearError(port, status); }
  BOOL Purge(HANDLE port, DWORD flags) override { return wine_.Purge(port, flags); }

  std::optional<DCB> found;  // what the first GetState handed back
  std::vector<DCB> given;    // every DCB passed to SetState, taken or not
  // Where the port switches RTS by hand (VendorUsb): each change, and when the last flush returned.
  std::vector<std::pair<SteadyClock::time_point, bool>> rts;
  SteadyClock::time_point flushed{};

 protected:
  // serial.sys's reads with ReadIntervalTimeout MAXDWORD and total time-outs: at once with what
  // is buffered; on an empty buffer, as soon as a byte comes, or at the total time-out.
  BOOL ReadAsSerialSys(HANDLE port, void* bytes, DWORD count, DWORD& moved) {
    COMMTIMEOUTS timeouts{};
    ::GetCommTimeouts(port, &timeouts);
    const auto deadline =
        SteadyClock::now() + std::chrono::milliseconds(timeouts.ReadTotalTimeoutMultiplier * count +
                                                       timeouts.ReadTotalTimeoutConstant);
    auto* at = static_cast<std::uint8_t*>(bytes);
    moved = 0;
    COMSTAT status{};
    for (;;) {
      if (!wine_.ClearError(port, status)) return FALSE;
      if (status.cbInQue > 0 || moved > 0 || SteadyClock::now() >= deadline) break;
      // Wine returns a read at once only when all it asks for is buffered; its one-byte reads
      // of 2 ms each wait for the first byte.
      if (!wine_.Read(port, at, 1, moved)) return FALSE;
    }
    DWORD rest = 0;
    const BOOL read = wine_.Read(port, at + moved, std::min(count - moved, status.cbInQue), rest);
    moved += rest;
    return read;
  }
  static BOOL Fail(DWORD error) {
    ::SetLastError(error);
    return FALSE;
  }

  LineDriver& wine_ = SystemLineDriver();
};

// serial.sys, the in-box driver of 16550 UARTs: reads as above; bytes leave at 9600 baud, and a
// write and a flush return once the last is in the 16-byte FIFO; it toggles RTS itself; it keeps
// the DCB between opens, here one that a terminal program left with flow control on and DTR off;
// with fAbortOnError, a line error (here a framing error as the line settles after the open)
// fails reads with ERROR_OPERATION_ABORTED until ClearCommError.
class SerialSys : public WineDriver {
 public:
  BOOL GetState(HANDLE port, DCB& settings) override {
    if (!wine_.GetState(port, settings)) return FALSE;
    settings.fOutxCtsFlow = settings.fOutxDsrFlow = settings.fNull = TRUE;
    settings.fDtrControl = DTR_CONTROL_DISABLE;
    if (!found) found = settings;
    return TRUE;
  }
  BOOL SetState(HANDLE port, DCB& settings) override {
    given.push_back(settings);
    DCB wine = settings;  // which refuses to toggle
    if (wine.fRtsControl == RTS_CONTROL_TOGGLE) wine.fRtsControl = RTS_CONTROL_ENABLE;
    return wine_.SetState(port, wine);
  }
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override {
    moved = 0;
    return line_error_ ? Fail(ERROR_OPERATION_ABORTED) : ReadAsSerialSys(port, bytes, count, moved);
  }
  BOOL ClearError(HANDLE port, COMSTAT& status) override {
    line_error_ = false;
    return wine_.ClearError(port, status);
  }
  // The simulator takes the bytes at 9600 baud itself, from when Wine has them.
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override {
    const auto start = SteadyClock::now();
    if (!wine_.Write(port, bytes, count, moved)) return FALSE;
    in_fifo_ = start + (std::max(moved, kFifoBytes) - kFifoBytes) * kByteTime;
    std::this_thread::sleep_until(in_fifo_);
    return TRUE;
  }
  BOOL Flush(HANDLE) override {
    std::this_thread::sleep_until(in_fifo_);
    return TRUE;
  }

 private:
  static constexpr DWORD kFifoBytes = 16;
  SteadyClock::time_point in_fifo_{};  // when the last write's bytes were all in the FIFO
  bool line_error_ = true;
};

// A USB adapter's vendor driver (FTDI, CP210x, CH340, PL2303): serial.sys's read rules; it refuses
// RTS_CONTROL_TOGGLE but switches RTS at once on request; a write returns once the adapter has
// the bytes and a flush about 1 ms after it, while they still leave the adapter at 9600 baud.
class VendorUsb : public WineDriver {
 public:
  BOOL SetState(HANDLE port, DCB& settings) override {
    given.push_back(settings);
    if (settings.fRtsControl == RTS_CONTROL_TOGGLE) return Fail(ERROR_INVALID_PARAMETER);
    return wine_.SetState(port, settings);
  }
  BOOL Escape(HANDLE port, DWORD function) override {
    if (function != SETRTS && function != CLRRTS) return wine_.Escape(port, function);
    rts.emplace_back(SteadyClock::now(), function == SETRTS);
    return TRUE;
  }
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override {
    return ReadAsSerialSys(port, bytes, count, moved);
  }
  BOOL Flush(HANDLE) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    flushed = SteadyClock::now();
    return TRUE;
  }
};

// A USB device that has stopped reading: the driver takes a write's bytes and returns, but they
// never leave, and ClearCommError counts them in cbOutQue until PurgeComm drops them. After 3 s
// they go anyway, so that a port that waits for them fails its time limit instead of hanging.
class StalledDevice : public WineDriver {
 public:
  BOOL Write(HANDLE, const void*, DWORD count, DWORD& moved) override {
    queued_ += count;
    since_ = SteadyClock::now();
    moved = count;
    return TRUE;
  }
  BOOL ClearError(HANDLE port, COMSTAT& status) override {
    if (!wine_.ClearError(port, status)) return FALSE;
    if (SteadyClock::now() - since_ > std::chrono::seconds(3)) queued_ = 0;
    status.cbOutQue = queued_;
    return TRUE;
  }
  BOOL Purge(HANDLE port, DWORD flags) override {
    if ((flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0) queued_ = 0;
    return wine_.Purge(port, flags);
  }

 private:
  DWORD queued_ = 0;
  SteadyClock::time_point since_{};
};

// A USB adapter pulled out in the middle of a reply, once it has delivered 64 bytes after the first
// write: then, as some USB drivers report a surprise removal, reads complete at once with no
// bytes, ClearCommError fails with ERROR_BAD_COMMAND and writes with ERROR_DEVICE_NOT_CONNECTED.
class UnpluggedDevice : public WineDriver {
 public:
  static constexpr DWORD kDeliveredBeforeRemoval = 64;
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override {
    if (!written_) return wine_.Read(port, bytes, count, moved);
    moved = 0;
    if (Removed()) return TRUE;
    const BOOL read =
        wine_.Read(port, bytes, std::min(count, kDeliveredBeforeRemoval - delivered_), moved);
    delivered_ += moved;
    return read;
  }
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override {
    written_ = true;
    moved = 0;
    return Removed() ? Fail(ERROR_DEVICE_NOT_CONNECTED) : wine_.Write(port, bytes, count, moved);
  }
  BOOL ClearError(HANDLE port, COMSTAT& status) override {
    return Removed() ? Fail(ERROR_BAD_COMMAND) : wine_.ClearError(port, status);
  }

 private:
  bool Removed() const { return delivered_ == kDeliveredBeforeRemoval; }
  bool written_ = false;
  DWORD delivered_ = 0;
};

}  // namespace kelvo::testing
