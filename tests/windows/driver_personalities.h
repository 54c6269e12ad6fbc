#pragma once

// Models of Windows serial drivers at the port's seam, for what Wine cannot show. Each wraps Wine's
// own driver for COM5, so that the simulator behind it still sees every byte that reaches the line.

#include <windows.h>

#include <chrono>
#include <optional>
#include <vector>

#include "serial/line_driver_win32.h"

namespace kelvo::testing {

using SteadyClock = std::chrono::steady_clock;

// Wine on a pseudo-terminal, as measured: a read waits for its whole count or its total
// time-out, a write and a flush return at once, RTS_CONTROL_TOGGLE and EscapeCommFunction fail.
// Records what the port asked of it.
class WineDriver : public LineDriver {
 public:
  BOOL GetState(HANDLE port, DCB& settings) override;
  BOOL SetState(HANDLE port, DCB& settings) override;
  BOOL Escape(HANDLE port, DWORD function) override;
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override;
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override;
  BOOL Flush(HANDLE port) override;
  BOOL ClearError(HANDLE port, COMSTAT& status) override;
  BOOL Purge(HANDLE port, DWORD flags) override;

  std::optional<DCB> found;  // what the first GetState handed back
  std::vector<DCB> given;    // every DCB passed to SetState, taken or not
  struct RtsChange {
    SteadyClock::time_point at;
    bool raised;
  };
  std::vector<RtsChange> rts;         // the changes that took effect
  SteadyClock::time_point flushed{};  // when the last flush returned

 protected:
  LineDriver& wine_ = SystemLineDriver();
};

// serial.sys, the in-box driver of 16550 UARTs: with ReadIntervalTimeout MAXDWORD a read returns
// at once with what is buffered, and waits for the first byte only on an empty buffer; bytes
// leave at 9600 baud, and a write and a flush return once the last is in the 16-byte FIFO; it
// toggles RTS itself; it keeps the DCB between opens, here one that a terminal program left with
// flow control on and DTR off.
class SerialSys : public WineDriver {
 public:
  BOOL GetState(HANDLE port, DCB& settings) override;
  BOOL SetState(HANDLE port, DCB& settings) override;
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override;
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override;
  BOOL Flush(HANDLE port) override;

 private:
  SteadyClock::time_point in_fifo_{};  // when the last write's bytes were all in the FIFO
};

// A USB adapter's vendor driver (FTDI, CP210x, CH340, PL2303): serial.sys's read rules; it refuses
// RTS_CONTROL_TOGGLE but switches RTS at once on request; a write returns once the adapter has
// the bytes and a flush about 1 ms after it, while they still leave the adapter at 9600 baud.
class VendorUsb : public WineDriver {
 public:
  BOOL SetState(HANDLE port, DCB& settings) override;
  BOOL Escape(HANDLE port, DWORD function) override;
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override;
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override;
  BOOL Flush(HANDLE port) override;

 private:
  SteadyClock::time_point written_{};
};

// A USB device that has stopped reading: the driver takes a write's bytes and returns, but they
// never leave, and ClearCommError counts them in cbOutQue until PurgeComm drops them. After 3 s
// they go anyway, so that a port that waits for them fails its time limit instead of hanging.
class StalledDevice : public WineDriver {
 public:
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override;
  BOOL ClearError(HANDLE port, COMSTAT& status) override;
  BOOL Purge(HANDLE port, DWORD flags) override;

 private:
  DWORD queued_ = 0;
  SteadyClock::time_point since_{};
};

// A USB adapter pulled out in the middle of a reply, once it has delivered 64 bytes after the first
// write: then, as some USB drivers report a surprise removal, reads complete at once with no bytes,
// ClearCommError fails with ERROR_BAD_COMMAND and writes with ERROR_DEVICE_NOT_CONNECTED.
class UnpluggedDevice : public WineDriver {
 public:
  static constexpr DWORD kDeliveredBeforeRemoval = 64;
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override;
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override;
  BOOL ClearError(HANDLE port, COMSTAT& status) override;

 private:
  bool written_ = false;
  DWORD delivered_ = 0;
};

}  // namespace kelvo::testing
