#include "serial/line_driver_win32.h"

namespace kelvo {
namespace {

class SystemDriver final : public LineDriver {
 public:
  BOOL GetState(HANDLE port, DCB& settings) override { return ::GetCommState(port, &settings); }
  BOOL SetState(HANDLE port, DCB& settings) override { return ::SetCommState(port, &settings); }
  BOOL Escape(HANDLE port, DWORD function) override { return ::EscapeCommFunction(port, function); }
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override {
    return ::ReadFile(port, bytes, count, &moved, nullptr);
  }
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override {
    return ::WriteFile(port, bytes, count, &moved, nullptr);
  }
  BOOL Flush(HANDLE port) override { return ::FlushFileBuffers(port); }
  BOOL ClearError(HANDLE port, COMSTAT& status) override {
    DWORD errors = 0;
    return ::ClearCommError(port, &errors, &status);
  }
  BOOL Purge(HANDLE port, DWORD flags) override { return ::PurgeComm(port, flags); }
};

}  // namespace

LineDriver& SystemLineDriver() {
  static SystemDriver driver;
  return driver;
}

}  // namespace kelvo
