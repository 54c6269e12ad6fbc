// Run by tests/windows/run.sh, with zarq-sim on COM5.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/line_driver_win32.h"
#include "serial/protocol.h"
#include "serial/serial_port.h"

namespace kelvo {
namespace {

// A USB adapter's driver: it refuses to toggle RTS but switches it on request, and a line error
// fails reads until it is cleared; Wine on a pseudo-terminal does neither.
struct AdapterDriver final : LineDriver {
  std::vector<std::string> calls;
  bool line_error = false;

  BOOL GetState(HANDLE port, DCB& settings) override {
    return SystemLineDriver().GetState(port, settings);
  }
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
  BOOL ClearError(HANDLE port, COMSTAT& status) override {
    calls.push_back("ClearCommError");
    line_error = false;
    return SystemLineDriver().ClearError(port, status);
  }
  BOOL Purge(HANDLE port, DWORD flags) override { return SystemLineDriver().Purge(port, flags); }
};

// A command the simulator answers at any time; EOT would end its run.
constexpr std::uint8_t kSetAddress[] = {0x05, 0x41, 0xBE, 0x00, 0x20};

TEST(PortOnWindows, ADriverThatRefusesToToggleRtsHasItRaisedOnlyAroundEachWrite) {
  AdapterDriver driver;
  SerialPort port = OpenLoaderPort("COM5", driver);
  ASSERT_TRUE(port.IsOpen()) << port.FailureCause();
  EXPECT_EQ(port.Write(kSetAddress), sizeof kSetAddress);
  EXPECT_EQ(driver.calls,
            (std::vector<std::string>{"SetCommState RTS 3", "SetCommState RTS 0", "CLRRTS",
                                      "SETRTS", "WriteFile 5", "FlushFileBuffers", "CLRRTS"}));
}

TEST(PortOnWindows, ALineErrorFailsOneReadOnlyAndLaterReadsTakeTheBytes) {
  AdapterDriver driver;
  SerialPort port = OpenLoaderPort("COM5", driver);
  ASSERT_TRUE(port.IsOpen()) << port.FailureCause();
  driver.line_error = true;
  std::uint8_t byte = 0;
  EXPECT_EQ(port.Read({&byte, 1}), 0u);
  EXPECT_EQ(driver.calls.back(), "ClearCommError");
  // NAK's greeting, then ACK or NAK; a simulator slow to see the open may miss a command.
  bool answered = false;
  for (int attempt = 0; attempt < 5 && !answered; ++attempt) {
    EXPECT_EQ(port.Write(kSetAddress), sizeof kSetAddress);
    for (int i = 0; i < 500 && !answered; ++i) {
      answered = port.Read({&byte, 1}) == 1 && (byte == kAck || byte == kNak);
    }
  }
  EXPECT_TRUE(answered);
  EXPECT_FALSE(port.Lost());
}

}  // namespace
}  // namespace kelvo
