#pragma once

#include <windows.h>

#include "serial/serial_port.h"

namespace kelvo {

// The calls on an open port whose effect depends on the driver behind it. Drivers differ in when
// a read or a flush returns, whether they toggle RTS, what they keep from the previous program
// and how an adapter that is pulled out shows. Tests put models of such drivers in their place.
class LineDriver {
 public:
  virtual ~LineDriver() = default;

  virtual BOOL GetState(HANDLE port, DCB& settings) = 0;                       // GetCommState
  virtual BOOL SetState(HANDLE port, DCB& settings) = 0;                       // SetCommState
  virtual BOOL Escape(HANDLE port, DWORD function) = 0;                        // EscapeCommFunction
  virtual BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) = 0;  // ReadFile
  virtual BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) = 0;  // WriteFile
  virtual BOOL Flush(HANDLE port) = 0;                        // FlushFileBuffers
  virtual BOOL ClearError(HANDLE port, COMSTAT& status) = 0;  // ClearCommError
  virtual BOOL Purge(HANDLE port, DWORD flags) = 0;           // PurgeComm
};

// The system's own calls.
LineDriver& SystemLineDriver();

}  // namespace kelvo
