#pragma once

#include <windows.h>

#include "serial/serial_port.h"

namespace kelvo {

// The calls on an open port whose effect depends on the driver behind it. The standard serial
// driver toggles RTS itself and holds a write until its bytes have left; a USB adapter's driver
// or Wine on a pseudo-terminal may refuse the toggling and return from a write at once. Tests
// put a model of such a driver in their place.
class LineDriver {
 public:
  virtual ~LineDriver() = default;

  virtual BOOL SetState(HANDLE port, DCB& settings) = 0;                       // SetCommState
  virtual BOOL Escape(HANDLE port, DWORD function) = 0;                        // EscapeCommFunction
  virtual BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) = 0;  // ReadFile
  virtual BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) = 0;  // WriteFile
  virtual BOOL Flush(HANDLE port) = 0;       // FlushFileBuffers
  virtual BOOL ClearError(HANDLE port) = 0;  // ClearCommError
};

// The system's own calls.
LineDriver& SystemLineDriver();

}  // namespace kelvo
