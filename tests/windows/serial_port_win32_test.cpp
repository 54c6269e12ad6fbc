// Run by tests/windows/end_to_end.sh with COM5 of its Wine prefix on a pseudo-terminal where
// zarq-sim listens (it sends NAK at each open).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/line_driver_win32.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace kelvo {
namespace {

// Stands for a USB adapter's driver: it refuses to toggle RTS but switches it on request, and it
// can report a line error (a framing error, a break) that fails reads until it is cleared. Wine
// on a pseudo-terminal refuses both RTS calls and never reports a line error; every other call
// goes to it.
struct AdapterDriver final : LineDriver {
  std::vector<std::string> calls;
  bool line_error = false;

  BOOL SetState(HANDLE port, DCB& settings) override {
    calls.push_back("SetCommState RTS " + std::to_string(settings.fRtsControl));
    return settings.fRtsControl != RTS_CONTROL_TOGGLE &&
           SystemLineDriver().SetState(port, settings);
  }
  BOOL Escape(HANDLE, DWORD function) override {
    calls.push_back(function == SETRTS ? "SETRTS" : function == CLRRTS ? "CLRRTS" : "other");
    return TRUE;
  }
  BOOL Read(HANDLE port, void* bytes, DWORD count, DWORD& moved) override {
    if (line_error) return FALSE;
    return SystemLineDriver().Read(port, bytes, count, moved);
  }
  BOOL Write(HANDLE port, const void* bytes, DWORD count, DWORD& moved) override {
    calls.push_back("WriteFile " + std::to_string(count));
    return SystemLineDriver().Write(port, bytes, count, moved);
  }
  BOOL Flush(HANDLE port) override {
    calls.push_back("FlushFileBuffers");
    return SystemLineDriver().Flush(port);
  }
  BOOL ClearError(HANDLE port) override {
    calls.push_back("ClearCommError");
    line_error = false;
    return SystemLineDriver().ClearError(port);
  }
};

TEST(PortOnWindows, ADriverThatRefusesToToggleRtsHasItRaisedOnlyAroundEachWrite) {
  AdapterDriver driver;
  SerialPort port = OpenLoaderPort("COM5", driver);
  ASSERT_TRUE(port.IsOpen()) << port.FailureCause();
  const std::uint8_t eot[] = {kEot};
  EXPECT_EQ(port.Write(eot), 1u);
  EXPECT_EQ(driver.calls,
            (std::vector<std::string>{"SetCommState RTS 3", "SetCommState RTS 0", "CLRRTS",
                                      "SETRTS", "WriteFile 1", "FlushFileBuffers", "CLRRTS"}));
}

TEST(PortOnWindows, ALineErrorFailsOneReadOnlyAndLaterReadsTakeTheBytes) {
  AdapterDriver driver;
  SerialPort port = OpenLoaderPort("COM5", driver);
  ASSERT_TRUE(port.IsOpen()) << port.FailureCause();
  driver.line_error = true;
  std::uint8_t byte = 0;
  EXPECT_EQ(port.Read({&byte, 1}), 0u);
  EXPECT_EQ(driver.calls.back(), "ClearCommError");
  bool nak = false;  // the simulator's greeting at this open
  for (int i = 0; i < 500 && !nak; ++i) nak = port.Read({&byte, 1}) == 1 && byte == kNak;
  EXPECT_TRUE(nak);
  EXPECT_FALSE(port.Lost());
}

}  // namespace
}  // namespace kelvo
