#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <thread>
#include <vector>

#include "serial/port_holder_posix.h"
#include "simulator/pseudo_terminal.h"
#include "support/temp_folder.h"

namespace kelvo {
namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

TEST(DevicePathFor, MapsOperatorNamesToDevices) {
  // COMn counts from 1, ttySn from 0; only a whole "COM" and number is a COM port.
  const std::pair<const char*, const char*> cases[] = {
      {"COM1", "/dev/ttyS0"},   {"COM10", "/dev/ttyS9"},      {"USB0", "/dev/ttyUSB0"},
      {"ACM3", "/dev/ttyACM3"}, {"/dev/pts/7", "/dev/pts/7"}, {"COM0", "/dev/COM0"},
      {"com1", "/dev/com1"},    {"COM1 ", "/dev/COM1 "},      {"ttyAMA0", "/dev/ttyAMA0"},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(DevicePathFor(name), path) << name;
}

TEST(OpenLoaderPort, FailsCleanlyOnWhatIsNoPort) {
  const int before = OpenDescriptorCount();
  EXPECT_EQ(OpenLoaderPort("/dev/kelvo-no-such-port").Error(), PortError::kNoSuchPort);
  EXPECT_FALSE(OpenLoaderPort("/dev/kelvo-no-such-port").IsOpen());
  const std::string plain_file = std::filesystem::temp_directory_path() / "kelvo-not-a-port";
  std::fclose(std::fopen(plain_file.c_str(), "w"));
  const SerialPort port = OpenLoaderPort(plain_file);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Error(), PortError::kNotASerialPort);
  EXPECT_EQ(port.FailureCause(), plain_file + " is not a serial port");
  std::filesystem::remove(plain_file);
  EXPECT_EQ(OpenDescriptorCount(), before);
}

// A program that holds the port without any lock, as a terminal program may: sleep, with the
// port (when given) as its standard input.
class Holder {
 public:
  explicit Holder(const std::string& port = "") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!port.empty())
      posix_spawn_file_actions_addopen(&actions, 0, port.c_str(), O_RDWR | O_NOCTTY, 0);
    char sleep[] = "sleep";
    char seconds[] = "60";
    char* argv[] = {sleep, seconds, nullptr};
    if (::posix_spawnp(&pid_, "sleep", &actions, nullptr, argv, environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    // The spawn returns while the child execs; it has the port open, but may not bear its
    // program's name yet.
    for (int tries = 0; pid_ > 0 && tries < 1000 && Comm() != "sleep"; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~Holder() { End(); }
  void End() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::string Name() const { return "sleep (process " + std::to_string(pid_) + ")"; }
  pid_t Pid() const { return pid_; }

 private:
  std::string Comm() const {
    std::ifstream comm("/proc/" + std::to_string(pid_) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
  }
  pid_t pid_ = 0;
};

TEST(OpenLoaderPort, HoldsThePortForItselfAndSaysWhoElseHasIt) {
  PseudoTerminal line;
  SerialPort first = OpenLoaderPort(line.SlavePath());
  ASSERT_TRUE(first.IsOpen());
  const SerialPort second = OpenLoaderPort(line.SlavePath());
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.Error(), PortError::kInUse);
  EXPECT_EQ(second.FailureCause(), line.SlavePath() + " is in use by another program");
  first.Close();

  Holder holder(line.SlavePath());
  ASSERT_GT(holder.Pid(), 0);
  const SerialPort refused = OpenLoaderPort(line.SlavePath());
  EXPECT_FALSE(refused.IsOpen());
  EXPECT_EQ(refused.FailureCause(), line.SlavePath() + " is in use by " + holder.Name());
  holder.End();
  EXPECT_TRUE(OpenLoaderPort(line.SlavePath()).IsOpen());
}

TEST(FindPortHolder, TakesALockFileWhoseProcessLivesAndIgnoresAStaleOne) {
  PseudoTerminal line;
  testing::TempFolder locks("kelvo-locks");
  const std::string lock_file =
      (locks.Path() / ("LCK..pts_" + line.SlavePath().substr(9))).string();
  const auto lock_by = [&](pid_t pid) {
    std::ofstream(lock_file) << std::setw(10) << pid << '\n';
    return FindPortHolder(line.SlavePath(), {locks.Path().string()});
  };
  Holder live;
  ASSERT_GT(live.Pid(), 0);
  EXPECT_EQ(lock_by(live.Pid()), live.Name());
  live.End();
  EXPECT_EQ(lock_by(live.Pid()), "") << "the process has gone";
  EXPECT_EQ(FindPortHolder(line.SlavePath()), "");
}

TEST(OpenLoaderPort, SetsUpARaw9600BaudLine) {
  PseudoTerminal line;
  const SerialPort port = OpenLoaderPort(line.SlavePath());
  ASSERT_TRUE(port.IsOpen());
  termios settings{};
  ASSERT_EQ(tcgetattr(line.MasterFd(), &settings), 0);
  EXPECT_EQ(cfgetospeed(&settings), B9600);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0u);
}

TEST(SerialPort, MovesBytesBothWays) {
  PseudoTerminal line;
  SerialPort port = OpenLoaderPort(line.SlavePath());
  ASSERT_TRUE(port.IsOpen());

  const Bytes frame = {0x05, 0x41, 0xBE, 0x00, 0x20};
  EXPECT_EQ(port.Write(frame), frame.size());
  EXPECT_EQ(line.ReadExactly(frame.size(), milliseconds(1000)), frame);

  Bytes reply(133);
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(line.Write(reply));
  Bytes got(133);
  EXPECT_EQ(port.Read(got), 133u);
  EXPECT_EQ(got, reply);
}

TEST(SerialPort, ReadTakesWhatArrivedByItsDeadline) {
  PseudoTerminal line;
  SerialPort port = OpenLoaderPort(line.SlavePath());
  ASSERT_TRUE(port.IsOpen());

  Bytes reply(133);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(reply), 0u);
  EXPECT_FALSE(port.Lost()) << "a silent line is no lost line";
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(134));
  EXPECT_LT(waited, milliseconds(1000));

  ASSERT_TRUE(line.Write(Bytes{0x00, 0x06}));
  EXPECT_EQ(port.Read(reply), 2u);
  EXPECT_EQ(reply[1], 0x06);
}

TEST(SerialPort, DiscardsWhatArrivedBeforeItOpened) {
  PseudoTerminal line;
  const int early_reader = ::open(line.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(early_reader, 0);
  ASSERT_TRUE(line.Write(Bytes{0x15}));
  int queued = 0;
  while (queued == 0) ASSERT_EQ(::ioctl(early_reader, FIONREAD, &queued), 0);
  SerialPort port = OpenLoaderPort(line.SlavePath());
  std::uint8_t byte = 0;
  EXPECT_EQ(port.Read({&byte, 1}), 0u);
  ::close(early_reader);
}

TEST(SerialPort, AVanishedLineMovesNothingAndDoesNotHang) {
  PseudoTerminal line;
  SerialPort port = OpenLoaderPort(line.SlavePath());
  ASSERT_TRUE(port.IsOpen());
  line.Close();
  Bytes buffer(133);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.Lost());
  EXPECT_EQ(port.Read(buffer), 0u);
  EXPECT_TRUE(port.Lost());
  EXPECT_EQ(port.Write(buffer), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(13400));
}

TEST(SerialPort, TheInvalidHandleMovesNothing) {
  SerialPort port;
  std::uint8_t byte = 0x04;
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Write({&byte, 1}), 0u);
  EXPECT_EQ(port.Read({&byte, 1}), 0u);
}

}  // namespace
}  // namespace kelvo
