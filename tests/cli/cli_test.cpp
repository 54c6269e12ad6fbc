// kelvo-cli as an operator runs it: a separate process on a pseudo-terminal, with the device
// simulated by the test. These run at the real clock's speed, so each is kept short.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "cli_process.h"
#include "doubles/temp_folder.h"
#include "image/printf_text.h"
#include "settings/settings_record.h"
#include "simulator/pseudo_terminal.h"
#include "simulator/zarq_simulator.h"
#include "support/transfer_run.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;
using testing::WithTimesMasked;

std::string SettingsFile(const Settings& settings) {
  const Bytes bytes = EncodeSettings(settings);
  return {bytes.begin(), bytes.end()};
}
const std::string kClosed = "Closing Port\nTime: T\nElapsed: T\n";

// Several ports at once, with the progress rows on a terminal: a device that fails stops none
// of the others, each port's log lines come whole and named, each port's trace holds every byte
// its device received, in order, after the device's first NAK, and a table ends the run.
TEST_F(CliTest, SeveralPortsLoadAtOnceShowProgressTraceTheirLinesAndEndInATable) {
  ZarqSimulator first, refusing({.refuse_command = 0x41}), third;
  PseudoTerminal terminal;
  const int errors = ::open(terminal.SlavePath().c_str(), O_WRONLY | O_NOCTTY);
  CliProcess cli({"--port", first.PortPath() + "," + refusing.PortPath(), "--port",
                  third.PortPath(), "--trace", "trace.txt", "app.bin"},
                 directory_, errors);
  ::close(errors);
  ASSERT_EQ(cli.Wait(), 1);
  const Bytes shown = terminal.ReadAvailable(std::chrono::milliseconds(0));
  EXPECT_THAT(std::string(shown.begin(), shown.end()),
              HasSubstr("] 100%  block 5 / 5  errors 0  address 2020  sum "));

  std::map<std::string, std::string> logs;  // each port's lines, without its name
  std::istringstream out(WithTimesMasked(cli.Stdout()));
  for (std::string line; std::getline(out, line) && !line.empty();) {
    const std::size_t colon = line.find(": ");
    ASSERT_NE(colon, std::string::npos) << line;
    logs[line.substr(0, colon)] += line.substr(line.find_first_not_of(' ', colon + 1)) + "\n";
  }
  EXPECT_EQ(logs[first.PortPath()],
            "Starting\nTime: T\nOpening Port " + first.PortPath() +
                " . . . Opened\nOpening File app.bin . . . Opened\n"
                "Waiting for Initial NAK . . . NAK detected\n"
                "Initializing Address . . . Acknowledged\nErasing Existing Application\n"
                "Starting Programming\nSkipping to Address 0x2020 . . . Acknowledged\n"
                "Programming Complete\n2 Unused Blocks Skipped\nSending EOT\n" +
                kClosed);
  for (const ZarqSimulator* device : {&first, &refusing, &third}) {
    const std::string& log = logs[device->PortPath()];
    EXPECT_TRUE(log.ends_with(device == &refusing ? "Initializing Address . . . Failed\n" + kClosed
                                                  : "Sending EOT\n" + kClosed))
        << log;
    std::ifstream trace(directory_ / ("trace-dev_pts_" + device->PortPath().substr(9) + ".txt"));
    std::string first_bytes, sent, received;
    for (std::string line; std::getline(trace, line);) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(line, match, std::regex(" *\\d+ ms (->|<-)((?: [0-9A-F]{2})+)")))
          << line;
      if (first_bytes.empty()) first_bytes = match[1].str() + match[2].str();
      if (match[1] == "->") sent += match[2];
    }
    for (const ReceivedFrame& frame : device->Frames())
      for (const std::uint8_t byte : frame.bytes) received += Printf(" %02X", byte);
    EXPECT_EQ(sent, received);
    EXPECT_TRUE(first_bytes.starts_with("<- 15")) << first_bytes;
  }
  const std::string row = " +5 / 5 +0 +0:\\d\\d\\.\\d\n";
  EXPECT_TRUE(std::regex_search(
      cli.Stdout(),
      std::regex("\nPort +Outcome +Blocks +Errors +Elapsed\n" + first.PortPath() + " +complete" +
                 row + refusing.PortPath() + " +failed +- +- +0:\\d\\d\\.\\d\n" + third.PortPath() +
                 " +complete" + row + "$")))
      << cli.Stdout();
}

// Ctrl-C halts and closes every port, whether it comes as the run starts (the note on what the
// settings file gave goes to a full pipe, which holds the start until the test empties it) or
// while the blocks are refused.
TEST_F(CliTest, CtrlCHaltsEveryPort) {
  for (const bool at_start : {true, false}) {
    SCOPED_TRACE(at_start ? "at the start" : "during the blocks");
    const SimulatorOptions options{.refuse_block = at_start ? -1 : 1, .refuse_times = 1000000};
    ZarqSimulator a(options), b(options), c(options);
    const std::array devices{&a, &b, &c};
    int errors[2] = {-1, -1};
    if (at_start) {
      Write("KELVO.DAT", SettingsFile({"ZZ9", "", "0x2000", "ZARQ 40 - 580", 0}));
      ASSERT_EQ(::pipe(errors), 0);
      ::fcntl(errors[1], F_SETFL, O_NONBLOCK);
      while (::write(errors[1], "full", 4) == 4) {
      }
      ::fcntl(errors[1], F_SETFL, 0);
    }
    CliProcess cli({"--port", a.PortPath() + "," + b.PortPath() + "," + c.PortPath(), "app.bin"},
                   directory_, errors[1]);
    if (at_start) {
      ::close(errors[1]);
      // Past the catching of halts, before any transfer starts.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!cli.WritingErrors() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      cli.Signal(SIGINT);
      char chunk[4096];
      while (::read(errors[0], chunk, sizeof chunk) > 0) {
      }
      ::close(errors[0]);
    } else {
      cli.AwaitStdout([&](const std::string& out) {
        return std::ranges::all_of(devices, [&](const ZarqSimulator* device) {
          return out.find(device->PortPath() + ": Error on Block 1 / 5") != std::string::npos;
        });
      });
      cli.Signal(SIGINT);
    }
    EXPECT_EQ(cli.Wait(), 130);
    const std::string out = cli.Stdout();
    // The line end is looked at, not taken: two such lines may follow each other.
    for (const char* pattern : {"\n\\S+: +Closing Port(?=\n)", "\n\\S+ +halted "}) {
      const std::regex line(pattern);
      EXPECT_EQ(std::distance(std::sregex_iterator(out.begin(), out.end(), line), {}), 3) << out;
    }
  }
}

// The line's speed as the next program to open it finds it.
speed_t LineSpeed(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios settings{};
  ::tcgetattr(fd, &settings);
  ::close(fd);
  return ::cfgetospeed(&settings);
}

// How each run ends shows in the exit status and the last words of the log.
struct EndCase {
  const char* name;
  SimulatorOptions device;
  const char* args;     // split at blanks; PORT stands for the simulated port, ./link links to it
  int status;           // 130: SIGTERM and then SIGINT while the handshake loop waits
  std::string log_end;  // empty: a run refused before it starts logs nothing
  const char* stderr_part;
  std::string settings_file = "";  // KELVO.DAT, if any, which the program must leave as it is
  friend void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }
};

class CliEnd : public CliTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(CliEnd, ExitStatusAndLogTellHowTheTransferEnded) {
  const EndCase& c = GetParam();
  if (!c.settings_file.empty()) Write("KELVO.DAT", c.settings_file);
  ZarqSimulator device(c.device);
  fs::create_symlink(device.PortPath(), directory_ / "link");
  const speed_t speed = LineSpeed(device.PortPath());
  std::istringstream words(std::regex_replace(c.args, std::regex("PORT"), device.PortPath()));
  CliProcess cli({std::istream_iterator<std::string>(words), {}}, directory_);
  const bool signalled = c.status == 130;
  if (signalled) {
    cli.AwaitStdout(
        [](const std::string& out) { return out.ends_with("Waiting for Initial NAK . . . "); });
    // Two different signals, as the system merges a second SIGINT sent before the first one has
    // been handled.
    cli.Signal(SIGTERM);
    cli.Signal(SIGINT);
  }
  EXPECT_EQ(cli.Wait(), c.status);
  EXPECT_TRUE(c.log_end.empty() ? cli.Stdout().empty()
                                : WithTimesMasked(cli.Stdout()).ends_with(c.log_end))
      << cli.Stdout();
  // Not a terminal: no progress line there, only what went wrong; the second signal ends the
  // line the log left open, and says nothing.
  const std::string errors = cli.Stderr();
  EXPECT_TRUE(signalled        ? errors == "\n"
              : *c.stderr_part ? errors.find(c.stderr_part) != std::string::npos
                               : errors.empty())
      << errors;
  EXPECT_EQ(FileContents(directory_ / "KELVO.DAT"), c.settings_file);
  // However the program ended, the line is left as it was found.
  EXPECT_EQ(LineSpeed(device.PortPath()), speed);
}

const SimulatorOptions kDevice, kSilent{.silent = true}, kPaced{.paced = true};

// A command line refused before anything starts.
EndCase Usage(const char* name, const char* args, const char* stderr_part) {
  return {name, kDevice, args, 2, "", stderr_part};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliEnd,
    ::testing::Values(
        // Halted at 11 s, seen once the third handshake of 5 s has had no answer.
        EndCase{"Timeout", kSilent, "--timeout 11 --port PORT app.bin", 124,
                "Waiting for Initial NAK . . . no response\n" + kClosed,
                "kelvo-cli: no answer to 3 handshakes: check that the device has power"},
        // Replies come short (bar one whose read a loaded machine starts late), so the halt may
        // find the upload at any block.
        EndCase{"DelayTooLow", kPaced, "--delay 0 --timeout 4 --port PORT app.bin", 124, kClosed,
                "kelvo-cli: 5 short replies in a row to one block: the response delay may be too "
                "low"},
        // The second signal ends the program at once.
        EndCase{"SecondSignal", kSilent, "--port PORT app.bin", 130,
                "Waiting for Initial NAK . . . ", ""},
        EndCase{"Script", kDevice, "--port PORT load.scr", 0,
                "Opening File load.scr . . . Opened\nSetting the address\n"
                "Sending Data SEND 05 41 BE 00 20\nSending Data SEND 04\nClosing Port\n",
                ""},
        EndCase{
            "ScriptWithARefusedLine", kDevice, "--port PORT long.scr", 1,
            "Too many bytes (29, at most 28) in " + kLongSend + "\nClosing Port\n",
            "kelvo-cli: long.scr: the last line has no line feed, so it is not played: SEND 04"},
        // The settings file gives the defaults: the port and delay, the start address, and the
        // device type, which skips the address.
        EndCase{"PortAndDelayFromTheSettingsFile", kDevice, "app.bin", 1,
                "Time: T\nResponse Delay set to 25 ms\nOpening Port ZZ9 . . . Failed\n"
                "no such port: ZZ9 (/dev/ZZ9)\n",
                "kelvo-cli: no such port: ZZ9 (/dev/ZZ9)",
                SettingsFile({"ZZ9", "", "0x2000", "ZARQ 40 - 580", 25})},
        EndCase{"AddressFromTheSettingsFile", kDevice, "--port PORT app.bin", 1,
                "Initializing Address . . . This version of Kelvo does not recognize addresses "
                "other than 0x2000\nAborting Programming\n" +
                    kClosed,
                "kelvo-cli: taken from ./KELVO.DAT: --address 0x2100 --device \"ZARQ 40 - 580\" "
                "--delay 0\n",
                SettingsFile({"ZZ9", "", "0x2100", "ZARQ 40 - 580", 0})},
        EndCase{"DeviceTypeFromTheSettingsFile", kDevice, "--port PORT app.bin", 0,
                "Sending EOT\n" + kClosed, "--address 0x2100 --device ZARQX --delay 0\n",
                SettingsFile({"ZZ9", "", "0x2100", "ZARQX", 0})},
        EndCase{"SimulateSRecords", kDevice, "--simulate --instant app.s19", 0,
                "Simulated device: memory at 0x20000 holds the image byte for byte (552 bytes)\n",
                ""},
        Usage("SamePortByALink", "--port PORT,USB1 --port ./link app.bin",
              "and ./link are the same"),
        // The trace never empties what it should not: the image, a link's file, a device.
        Usage("TraceOverTheImage", "--trace ./app.bin --port PORT app.bin",
              "--trace ./app.bin is the file being sent: not written"),
        Usage("TraceThroughALink", "--trace link --port PORT app.bin", "link is a link"),
        Usage("TraceToADevice", "--trace PORT --port PORT app.bin", "is not a regular file"),
        Usage("NoFile", "--port PORT", "FILE is required"),
        Usage("RepeatAScript", "--repeat --port USB0 load.scr",
              "--repeat: loads images, not a script"),
        Usage("InstantWithoutSimulate", "--instant app.bin", "--simulate"),
        // Whole numbers only, or the form would read "abc" as 0 and "-5" as 65531.
        Usage("DelayFraction", "--delay 1.5 --port PORT app.bin", "--delay: takes"),
        Usage("DelayTooLarge", "--delay 65536 --port PORT app.bin", "--delay: takes"),
        Usage("TimeoutZero", "--timeout 0 --port PORT app.bin", "--timeout: takes")),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvo
