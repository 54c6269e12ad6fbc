// kelvo-cli as an operator runs it: a separate process on a pseudo-terminal, with the device
// simulated by the test. These run at the real clock's speed, so each is kept short.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "settings/settings_record.h"
#include "simulator/pseudo_terminal.h"
#include "simulator/zarq_simulator.h"
#include "support/temp_folder.h"

extern char** environ;

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string FileContents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The built kelvo-cli running as a child process in a directory of the test's choosing, its
// standard output and error going to files there.
class CliProcess {
 public:
  // stderr_path, when given, names a terminal that becomes the program's standard error.
  CliProcess(std::vector<std::string> args, const std::filesystem::path& directory,
             const std::string& stderr_path = "")
      : stdout_path_(directory / "stdout.txt"), stderr_path_(directory / "stderr.txt") {
    std::string program = KELVO_CLI_PATH;
    std::vector<char*> argv = {program.data()};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_path_.c_str(), kFlags, 0644);
    posix_spawn_file_actions_addopen(
        &actions, STDERR_FILENO, stderr_path.empty() ? stderr_path_.c_str() : stderr_path.c_str(),
        kFlags, 0644);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CliProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  std::string Stdout() const { return FileContents(stdout_path_); }
  std::string Stderr() const { return FileContents(stderr_path_); }

  // Waits until standard output holds text; false if the wait ran out first.
  bool AwaitOutput(const std::string& text, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (Stdout().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  void Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
  }

  // The exit status (128 + the signal if one ended the program), or -1 when the program had not
  // ended within wait.
  int Wait(std::chrono::milliseconds wait = std::chrono::seconds(20)) {
    // Through syscall(), since the pidfd_open of glibc 2.36 lacks C linkage.
    pollfd ended{static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)), POLLIN, 0};
    const bool exited = ended.fd >= 0 && ::poll(&ended, 1, static_cast<int>(wait.count())) == 1;
    if (ended.fd >= 0) ::close(ended.fd);
    int status = 0;
    if (!exited || ::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  std::filesystem::path stdout_path_, stderr_path_;
};

// The times of day and the elapsed time, which vary from run to run.
std::string WithoutTimes(const std::string& log) {
  static const std::regex kTime("Time: \\d\\d:\\d\\d:\\d\\d\n");
  static const std::regex kElapsed("Elapsed: \\d\\d:\\d\\d\n");
  return std::regex_replace(std::regex_replace(log, kTime, "Time: T\n"), kElapsed, "Elapsed: E\n");
}
const std::string kClosed = "Closing Port\nTime: T\nElapsed: E\n";

Bytes ReceivedBytes(const ZarqSimulator& device) {
  Bytes bytes;
  for (const ReceivedFrame& frame : device.Frames()) {
    bytes.insert(bytes.end(), frame.bytes.begin(), frame.bytes.end());
  }
  return bytes;
}

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    // Two data blocks, two blank ones, and a final part of 40 bytes.
    std::string image;
    for (int i = 0; i < 256; ++i) image += static_cast<char>(i * 7 + 1);
    image += std::string(256, '\xFF');
    for (int i = 0; i < 40; ++i) image += static_cast<char>(i);
    Write("app.bin", image);
  }

  void Write(const std::string& name, const std::string& contents) const {
    std::ofstream(directory_ / name, std::ios::binary) << contents;
  }

  testing::TempFolder folder_{"kelvo-cli"};
  fs::path directory_ = folder_.Path();
};

TEST_F(CliTest, UploadLogsEveryStepOnStdoutAndTracesTheLine) {
  ZarqSimulator device;
  CliProcess cli({"--port", device.PortPath(), "--trace", "trace.txt", "app.bin"}, directory_);
  ASSERT_EQ(cli.Wait(), 0) << cli.Stderr();
  EXPECT_EQ(WithoutTimes(cli.Stdout()),
            "Starting\nTime: T\nOpening Port " + device.PortPath() +
                " . . . Opened\nOpening File app.bin . . . Opened\n"
                "Waiting for Initial NAK . . . NAK detected\n"
                "Initializing Address . . . Acknowledged\nErasing Existing Application\n"
                "Starting Programming\nSkipping to Address 0x2020 . . . Acknowledged\n"
                "Programming Complete\n2 Unused Blocks Skipped\nSending EOT\n" +
                kClosed);
  EXPECT_EQ(cli.Stderr(), "");  // not a terminal, so no progress line

  // The trace holds, in order, every byte the device received and, first of all, its NAK.
  std::ifstream trace(directory_ / "trace.txt");
  const std::regex kLine(" *\\d+ ms (->|<-)((?: [0-9A-F]{2})+)");
  Bytes sent, received;
  for (std::string line; std::getline(trace, line);) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, kLine)) << line;
    std::istringstream hex(match[2]);
    for (unsigned value = 0; hex >> std::hex >> value;) {
      (match[1] == "->" ? sent : received).push_back(static_cast<std::uint8_t>(value));
    }
  }
  EXPECT_EQ(sent, ReceivedBytes(device));
  EXPECT_TRUE(!received.empty() && received.front() == 0x15);
}

// How each way of ending shows in the exit status and the last words of the log.
struct EndCase {
  const char* name;
  SimulatorOptions device;
  const char* args;  // split at blanks; PORT stands for the simulated port
  int signals;       // sent while the handshake loop waits: 1 SIGINT, 2 SIGTERM and then SIGINT
  int status;
  std::string log_end;
  const char* stderr_part;

  friend void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }
};

class CliEnd : public CliTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(CliEnd, ExitStatusAndLogTellHowTheTransferEnded) {
  const EndCase& c = GetParam();
  ZarqSimulator device(c.device);
  std::istringstream words(std::regex_replace(c.args, std::regex("PORT"), device.PortPath()));
  CliProcess cli({std::istream_iterator<std::string>(words), {}}, directory_);
  if (c.signals > 0) {
    ASSERT_TRUE(cli.AwaitOutput("Waiting for Initial NAK . . . ", std::chrono::seconds(10)));
    // Two different signals, because the system merges a second SIGINT sent before the first
    // one has been handled.
    if (c.signals == 2) cli.Signal(SIGTERM);
    cli.Signal(SIGINT);
  }
  EXPECT_EQ(cli.Wait(), c.status);
  EXPECT_TRUE(WithoutTimes(cli.Stdout()).ends_with(c.log_end)) << cli.Stdout();
  EXPECT_NE(cli.Stderr().find(c.stderr_part), std::string::npos) << cli.Stderr();
}

const SimulatorOptions kDevice, kSilent{.silent = true}, kStrayAck{.handshake_byte = 0x06};

INSTANTIATE_TEST_SUITE_P(
    Cases, CliEnd,
    ::testing::Values(
        EndCase{"PortMissing", kDevice, "--port /dev/kelvo-no-such-port app.bin", 0, 1,
                "Opening Port /dev/kelvo-no-such-port . . . Failed\n"
                "no such port: /dev/kelvo-no-such-port\n",
                "kelvo-cli: no such port: /dev/kelvo-no-such-port"},
        EndCase{"FileMissing", kDevice, "--port PORT missing.bin", 0, 1,
                "Opening File missing.bin . . . Failed\n" + kClosed, ""},
        EndCase{"StrayByte", kStrayAck, "--port PORT app.bin", 0, 1,
                "Waiting for Initial NAK . . . unexpected character detected\n" + kClosed, ""},
        EndCase{"Timeout", kSilent, "--timeout 1 --port PORT app.bin", 0, 124,
                "Waiting for Initial NAK . . . no response\n" + kClosed, ""},
        EndCase{"CtrlC", kSilent, "--port PORT app.bin", 1, 130,
                "Waiting for Initial NAK . . . no response\n" + kClosed, ""},
        // The second signal ends the program at once.
        EndCase{"SecondSignal", kSilent, "--port PORT app.bin", 2, 130,
                "Waiting for Initial NAK . . . ", ""},
        EndCase{"NoFile", kDevice, "--port PORT", 0, 2, "", "FILE is required"},
        EndCase{"UnknownOption", kDevice, "--baud 9600 app.bin", 0, 2, "", "--baud"},
        EndCase{"TimeoutNotPositive", kDevice, "--timeout 0 app.bin", 0, 2, "", "--timeout"},
        EndCase{"InstantWithoutSimulate", kDevice, "--instant app.bin", 0, 2, "", "--simulate"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(CliTest, PlaysAScriptToThePort) {
  ZarqSimulator device;
  Write("load.scr", "\"Setting the address\nSEND 05 41 BE 00 20\nSEND 04\n");
  CliProcess cli({"--port", device.PortPath(), "load.scr"}, directory_);
  ASSERT_EQ(cli.Wait(), 0) << cli.Stderr();
  EXPECT_TRUE(
      cli.Stdout().ends_with("Opening File load.scr . . . Opened\nSetting the address\n"
                             "Sending Data SEND 05 41 BE 00 20\n"
                             "Sending Data SEND 04\nClosing Port\n"))
      << cli.Stdout();
  EXPECT_EQ(ReceivedBytes(device), (Bytes{0x05, 0x41, 0xBE, 0x00, 0x20, 0x04}));
}

TEST_F(CliTest, TakesItsDefaultsFromTheSettingsFileAndLeavesItAlone) {
  struct Case {
    const char* name;
    const char* address;
    const char* device_type;
    std::uint16_t delay;
    bool with_port;  // --port given, else the file's port is used
    int status;
    const char* log_part;
  };
  const Case cases[] = {
      {"port and delay", "0x2000", "ZARQ 40 - 580", 25, false, 1,
       "Time: T\nResponse Delay set to 25 ms\nOpening Port ZZ9 . . . Failed\n"},
      {"address", "0x2100", "ZARQ 40 - 580", 0, true, 1,
       "Initializing Address . . . This version of Kelvo does not recognize addresses other "
       "than 0x2000\nAborting Programming\n"},
      {"device type", "0x2100", "ZARQX", 0, true, 0, "NAK detected\nStarting Programming\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZarqSimulator device;
    const Bytes bytes = EncodeSettings({"ZZ9", "", c.address, c.device_type, c.delay});
    const std::string record(bytes.begin(), bytes.end());
    Write("KELVO.DAT", record);
    std::vector<std::string> args = {"app.bin"};
    if (c.with_port) args.insert(args.begin(), {"--port", device.PortPath()});
    CliProcess cli(args, directory_);
    EXPECT_EQ(cli.Wait(), c.status);
    EXPECT_NE(WithoutTimes(cli.Stdout()).find(c.log_part), std::string::npos) << cli.Stdout();
    EXPECT_EQ(FileContents(directory_ / "KELVO.DAT"), record);
  }
}

TEST_F(CliTest, SimulateVerifiesTheImageAndShowsProgressOnATerminal) {
  PseudoTerminal terminal;
  CliProcess cli({"--simulate", "--instant", "app.bin"}, directory_, terminal.SlavePath());
  ASSERT_EQ(cli.Wait(), 0);
  EXPECT_TRUE(
      cli.Stdout().ends_with("Simulated device: memory at 0x20000 holds the image byte "
                             "for byte (552 bytes)\n"))
      << cli.Stdout();
  EXPECT_EQ(cli.Stdout().find('\r'), std::string::npos);
  const Bytes shown = terminal.ReadAvailable(std::chrono::milliseconds(0));
  EXPECT_NE(std::string(shown.begin(), shown.end())
                .find("] 100%  block 5 / 5  errors 0  address 2020  sum "),
            std::string::npos);
}

}  // namespace
}  // namespace kelvo
