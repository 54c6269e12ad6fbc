// kelvo-cli as an operator runs it: a separate process on a pseudo-terminal, with the device
// simulated by the test. These run at the real clock's speed, so each is kept short.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "cli_process.h"
#include "simulator/pseudo_terminal.h"
#include "simulator/zarq_simulator.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;
using testing::CliProcess;

using Bytes = std::vector<std::uint8_t>;

// Two data blocks, two blank ones, and a final part of 40 bytes.
Bytes ImageWithGap() {
  Bytes image;
  for (int i = 0; i < 256; ++i) image.push_back(static_cast<std::uint8_t>(i * 7 + 1));
  image.insert(image.end(), 256, 0xFF);
  for (int i = 0; i < 40; ++i) image.push_back(static_cast<std::uint8_t>(i));
  return image;
}

// The times of day and the elapsed time, which vary from run to run.
std::string WithoutTimes(const std::string& log) {
  static const std::regex kTime("Time: \\d\\d:\\d\\d:\\d\\d\n");
  static const std::regex kElapsed("Elapsed: \\d\\d:\\d\\d\n");
  return std::regex_replace(std::regex_replace(log, kTime, "Time: T\n"), kElapsed, "Elapsed: E\n");
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    std::string pattern = (fs::temp_directory_path() / "kelvo-cli-XXXXXX").string();
    directory_ = ::mkdtemp(pattern.data());
  }
  ~CliTest() override { fs::remove_all(directory_); }

  fs::path Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(directory_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return directory_ / name;
  }
  fs::path Write(const std::string& name, const std::string& text) const {
    return Write(name, Bytes(text.begin(), text.end()));
  }
  Bytes Read(const std::string& name) const {
    std::ifstream in(directory_ / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::unique_ptr<CliProcess> Start(const std::vector<std::string>& args) const {
    return std::make_unique<CliProcess>(args, directory_);
  }

  fs::path directory_;
};

TEST_F(CliTest, UploadLogsEveryStepOnStdoutAndTracesTheLine) {
  ZarqSimulator device;
  ASSERT_TRUE(device.IsRunning());
  const fs::path image = Write("app.bin", ImageWithGap());
  auto cli = Start({"--port", device.PortPath(), "--trace", "trace.txt", image.string()});

  ASSERT_EQ(cli->Wait(), 0) << cli->Stderr();
  EXPECT_EQ(WithoutTimes(cli->Stdout()),
            "Starting\n"
            "Time: T\n"
            "Opening Port " +
                device.PortPath() +
                " . . . Opened\n"
                "Opening File " +
                image.string() +
                " . . . Opened\n"
                "Waiting for Initial NAK . . . NAK detected\n"
                "Initializing Address . . . Acknowledged\n"
                "Erasing Existing Application\n"
                "Starting Programming\n"
                "Skipping to Address 0x2020 . . . Acknowledged\n"
                "Programming Complete\n"
                "2 Unused Blocks Skipped\n"
                "Sending EOT\n"
                "Closing Port\n"
                "Time: T\n"
                "Elapsed: E\n");
  EXPECT_EQ(cli->Stderr(), "");  // not a terminal, so no progress line

  // The trace holds, in order, every byte the device received and, first of all, its NAK.
  std::ifstream trace(directory_ / "trace.txt");
  const std::regex kLine(" *\\d+ ms (->|<-)((?: [0-9A-F]{2})+)");
  Bytes sent, received;
  std::string line;
  while (std::getline(trace, line)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, kLine)) << line;
    Bytes& bytes = match[1] == "->" ? sent : received;
    std::istringstream hex(match[2]);
    for (unsigned value = 0; hex >> std::hex >> value;)
      bytes.push_back(static_cast<std::uint8_t>(value));
  }
  Bytes device_received;
  for (const ReceivedFrame& frame : device.Frames()) {
    device_received.insert(device_received.end(), frame.bytes.begin(), frame.bytes.end());
  }
  EXPECT_EQ(sent, device_received);
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.front(), 0x15);
}

// How each way of ending shows in the exit status and the last words of the log.
struct EndCase {
  const char* name;
  SimulatorOptions device;
  std::vector<std::string> args;  // "{port}" stands for the simulated port, "{image}" for an image
  int status;
  std::string log_end;
  std::string stderr_part;

  friend void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }
};

class CliEnd : public CliTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(CliEnd, ExitStatusAndLogTellHowTheTransferEnded) {
  const EndCase& c = GetParam();
  ZarqSimulator device(c.device);
  ASSERT_TRUE(device.IsRunning());
  const fs::path image = Write("app.bin", ImageWithGap());
  std::vector<std::string> args;
  for (const std::string& arg : c.args) {
    args.push_back(arg == "{port}" ? device.PortPath() : arg == "{image}" ? image.string() : arg);
  }
  auto cli = Start(args);
  EXPECT_EQ(cli->Wait(), c.status);
  EXPECT_TRUE(EndsWith(WithoutTimes(cli->Stdout()), c.log_end)) << cli->Stdout();
  EXPECT_NE(cli->Stderr().find(c.stderr_part), std::string::npos) << cli->Stderr();
}

SimulatorOptions Silent() {
  SimulatorOptions options;
  options.silent = true;
  return options;
}

SimulatorOptions StrayByte() {
  SimulatorOptions options;
  options.handshake_byte = 0x06;
  return options;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliEnd,
    ::testing::Values(
        EndCase{"PortMissing",
                {},
                {"--port", "/dev/kelvo-no-such-port", "{image}"},
                1,
                "Opening Port /dev/kelvo-no-such-port . . . Failed\n",
                "kelvo-cli: no such port: /dev/kelvo-no-such-port"},
        EndCase{"FileMissing",
                {},
                {"--port", "{port}", "missing.bin"},
                1,
                "Opening File missing.bin . . . Failed\nClosing Port\nTime: T\nElapsed: E\n",
                ""},
        EndCase{"StrayByteAtTheHandshake",
                StrayByte(),
                {"--port", "{port}", "{image}"},
                1,
                "Waiting for Initial NAK . . . unexpected character detected\nClosing Port\n"
                "Time: T\nElapsed: E\n",
                ""},
        EndCase{"Timeout",
                Silent(),
                {"--timeout", "1", "--port", "{port}", "{image}"},
                124,
                "Waiting for Initial NAK . . . no response\nClosing Port\nTime: T\nElapsed: E\n",
                ""},
        EndCase{"NoFile", {}, {"--port", "{port}"}, 2, "", "FILE is required"},
        EndCase{"UnknownOption", {}, {"--baud", "9600", "{image}"}, 2, "", "--baud"},
        EndCase{"TimeoutNotPositive", {}, {"--timeout", "0", "{image}"}, 2, "", "--timeout"},
        EndCase{"InstantWithoutSimulate", {}, {"--instant", "{image}"}, 2, "", "--simulate"}),
    [](const ::testing::TestParamInfo<EndCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST_F(CliTest, CtrlCDuringTheHandshakeHaltsAndClosesThePort) {
  ZarqSimulator device(Silent());
  auto cli = Start({"--port", device.PortPath(), Write("app.bin", ImageWithGap()).string()});
  ASSERT_TRUE(cli->AwaitOutput("Waiting for Initial NAK . . . ", seconds(10)));
  cli->Signal(SIGINT);
  EXPECT_EQ(cli->Wait(), 130);
  EXPECT_TRUE(EndsWith(WithoutTimes(cli->Stdout()),
                       "Waiting for Initial NAK . . . no response\n"
                       "Closing Port\nTime: T\nElapsed: E\n"))
      << cli->Stdout();
}

// Two different signals, because the system merges a second SIGINT sent before the first one
// has been handled.
TEST_F(CliTest, ASecondSignalEndsTheProgramAtOnce) {
  ZarqSimulator device(Silent());
  auto cli = Start({"--port", device.PortPath(), Write("app.bin", ImageWithGap()).string()});
  ASSERT_TRUE(cli->AwaitOutput("Waiting for Initial NAK . . . ", seconds(10)));
  cli->Signal(SIGTERM);
  cli->Signal(SIGINT);
  EXPECT_EQ(cli->Wait(), 130);
  EXPECT_EQ(cli->Stdout().find("Closing Port"), std::string::npos) << cli->Stdout();
}

TEST_F(CliTest, PlaysAScriptToThePort) {
  ZarqSimulator device;
  const fs::path script = Write("load.scr",
                                "\"Setting the address\n"
                                "SEND 05 41 BE 00 20\n"
                                "SEND 04\n");
  auto cli = Start({"--port", device.PortPath(), script.string()});
  ASSERT_EQ(cli->Wait(), 0) << cli->Stderr();
  EXPECT_TRUE(EndsWith(cli->Stdout(), "Opening File " + script.string() +
                                          " . . . Opened\n"
                                          "Setting the address\n"
                                          "Sending Data SEND 05 41 BE 00 20\n"
                                          "Sending Data SEND 04\n"
                                          "Closing Port\n"))
      << cli->Stdout();
  const std::vector<ReceivedFrame> frames = device.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].kind, ReceivedFrame::Kind::kCommand);
  EXPECT_EQ(frames[0].bytes, (Bytes{0x05, 0x41, 0xBE, 0x00, 0x20}));
  EXPECT_EQ(frames[1].kind, ReceivedFrame::Kind::kEot);
}

// KELVO.DAT as the window saves it: port (4 bytes), path, start address, ZARQX flag, delay.
Bytes SettingsRecord(const std::string& port, const std::string& address, bool zarqx,
                     std::uint16_t delay) {
  Bytes record(port.begin(), port.end());
  record.resize(4, 0);
  record.push_back(0);  // no path
  record.push_back(static_cast<std::uint8_t>(address.size()));
  record.insert(record.end(), address.begin(), address.end());
  record.push_back(zarqx ? 1 : 0);
  record.push_back(static_cast<std::uint8_t>(delay & 0xFF));
  record.push_back(static_cast<std::uint8_t>(delay >> 8));
  return record;
}

TEST_F(CliTest, TakesItsDefaultsFromTheSettingsFileAndLeavesItAlone) {
  struct Case {
    const char* name;
    Bytes settings;
    bool with_port;  // --port given, else the file's port is used
    int status;
    std::vector<std::string> log_parts;
    std::vector<std::string> absent_parts;
  };
  const Case cases[] = {
      {"port from the file",
       SettingsRecord("ZZ9", "0x2000", false, 0),
       false,
       1,
       {"Opening Port ZZ9 . . . Failed\n"},
       {}},
      {"address and delay from the file",
       SettingsRecord("ZZ9", "0x2100", false, 25),
       true,
       1,
       {"Response Delay set to 25 ms\n",
        "Initializing Address . . . This version of Kelvo does not recognize addresses other "
        "than 0x2000\nAborting Programming\n"},
       {}},
      {"device type from the file",
       SettingsRecord("ZZ9", "0x2100", true, 0),
       true,
       0,
       {"NAK detected\nStarting Programming\n"},
       {"Initializing Address"}},
  };
  const fs::path image = Write("app.bin", ImageWithGap());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZarqSimulator device;
    Write("KELVO.DAT", c.settings);
    std::vector<std::string> args = {image.string()};
    if (c.with_port) args.insert(args.begin(), {"--port", device.PortPath()});
    auto cli = Start(args);
    EXPECT_EQ(cli->Wait(), c.status);
    for (const std::string& part : c.log_parts) {
      EXPECT_NE(cli->Stdout().find(part), std::string::npos) << cli->Stdout();
    }
    for (const std::string& part : c.absent_parts) {
      EXPECT_EQ(cli->Stdout().find(part), std::string::npos) << cli->Stdout();
    }
    EXPECT_EQ(Read("KELVO.DAT"), c.settings);
  }
}

TEST_F(CliTest, SimulateReportsThatTheDeviceHoldsTheImage) {
  Write("app.bin", ImageWithGap());
  auto cli = Start({"--simulate", "--instant", "app.bin"});
  ASSERT_EQ(cli->Wait(), 0) << cli->Stderr();
  EXPECT_NE(cli->Stdout().find("Opening Port /dev/pts/"), std::string::npos) << cli->Stdout();
  EXPECT_TRUE(EndsWith(cli->Stdout(),
                       "Simulated device: memory at 0x20000 holds the image byte for byte "
                       "(552 bytes)\n"))
      << cli->Stdout();
}

TEST_F(CliTest, ShowsProgressOnlyWhenStandardErrorIsATerminal) {
  PseudoTerminal terminal;
  ASSERT_TRUE(terminal.IsOpen());
  Write("app.bin", ImageWithGap());
  CliProcess cli({"--simulate", "--instant", "app.bin"}, directory_, terminal.MasterFd(),
                 terminal.SlavePath());
  ASSERT_EQ(cli.Wait(), 0);
  EXPECT_NE(cli.Terminal().find("] 100%  block 5 / 5  errors 0  address 2020  sum "),
            std::string::npos)
      << cli.Terminal();
  EXPECT_EQ(cli.Stdout().find('\r'), std::string::npos);
}

}  // namespace
}  // namespace kelvo
