#include "serial/serial_port.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "doubles/line_doubles.h"
#include "doubles/temp_folder.h"
#include "serial/port_holder_posix.h"
#include "serial/protocol.h"
#include "serial/time_limit_posix.h"
#include "simulator/pseudo_terminal.h"
#include "support/ordinary_user.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Driver;
using SteadyClock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

TEST(DevicePathFor, MapsOperatorNamesToDevices) {
  // COMn counts from 1, ttySn from 0; only a whole "COM" and number is a COM port.
  const std::pair<const char*, const char*> cases[] = {
      {"COM1", "/dev/ttyS0"},   {"COM10", "/dev/ttyS9"},      {"USB0", "/dev/ttyUSB0"},
      {"ACM3", "/dev/ttyACM3"}, {"/dev/pts/7", "/dev/pts/7"}, {"COM0", "/dev/COM0"},
      {"com1", "/dev/com1"},    {"COM1 ", "/dev/COM1 "},      {"ttyAMA0", "/dev/ttyAMA0"},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(DevicePathFor(name), path) << name;
}

// A malformed network port's name says how to name one.
TEST(OpenLoaderPort, FailsCleanlyOnWhatIsNoPortOrNoNetworkPortNameAndThePortItGivesMovesNothing) {
  const auto open_descriptors = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), {});
  };
  const auto before = open_descriptors();
  EXPECT_EQ(OpenLoaderPort("/dev/kelvo-no-such-port").Error(), PortError::kNoSuchPort);
  for (const char* name : {"tcp://host", "tcp://:4000", "rfc2217://host:0", "tcp://host:65536"}) {
    EXPECT_EQ(OpenLoaderPort(name).FailureCause(),
              name + std::string(" is no network port: name one tcp://HOST:PORT or "
                                 "rfc2217://HOST:PORT"));
  }
  testing::TempFolder folder("kelvo-not-a-port");
  const std::string plain_file = folder.Path() / "plain";
  std::ofstream{plain_file};
  SerialPort port = OpenLoaderPort(plain_file);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Error(), PortError::kNotASerialPort);
  EXPECT_EQ(port.FailureCause(), plain_file + " is not a serial port");
  EXPECT_EQ(open_descriptors(), before);
  std::uint8_t byte = 0x04;
  EXPECT_EQ(port.Write({&byte, 1}), 0u);
  EXPECT_EQ(port.Read({&byte, 1}), 0u);
}

// The hint names the group that owns the port, which is not dialout everywhere (uucp, tty). Root
// opens anything, so an ordinary user tries.
TEST(OpenLoaderPort, APortRefusedForWantOfPermissionNamesItsGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give the port to another group";
  PseudoTerminal line;
  const group* tty = ::getgrnam("tty");
  ASSERT_NE(tty, nullptr);
  ASSERT_EQ(::chown(line.SlavePath().c_str(), static_cast<uid_t>(-1), tty->gr_gid), 0);
  EXPECT_EXIT(
      testing::AsOrdinaryUser([&] { return OpenLoaderPort(line.SlavePath()).FailureCause(); }),
      ::testing::ExitedWithCode(0),
      "^permission denied on " + line.SlavePath() +
          ": add your user to the tty group \\(sudo usermod -aG tty \\$USER\\) and log "
          "in again$");
}

// A process that holds the port, when given, without a lock, as a terminal program may, until
// ended. Its name would clear the screen and retitle the terminal.
struct Holder {
  explicit Holder(const std::string& port = "") {
    const int fd = port.empty() ? -1 : ::open(port.c_str(), O_RDWR | O_NOCTTY);
    char own[16] = {};
    ::prctl(PR_GET_NAME, own);
    ::prctl(PR_SET_NAME, "srv\x1B]0;x\x07\x1B[2J");
    if ((pid = ::fork()) == 0)
      for (;;) ::pause();
    ::prctl(PR_SET_NAME, own);
    if (fd >= 0) ::close(fd);
  }
  ~Holder() { End(); }
  void End() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    pid = 0;
  }
  std::string Name() const { return "srv^[]0;x^G^[[2J (process " + std::to_string(pid) + ")"; }
  pid_t pid = 0;
};

// Any user may plant files in the lock folders: a link is not followed, and a FIFO, which a
// reader would wait on for ever, is passed over at once.
TEST(OpenLoaderPort, HoldsThePortForItselfAndSaysWhoElseHasItFromALiveOwnersPlainLockFileOnly) {
  PseudoTerminal line;
  SerialPort first = OpenLoaderPort(line.SlavePath());
  ASSERT_TRUE(first.IsOpen());
  const SerialPort second = OpenLoaderPort(line.SlavePath());
  EXPECT_EQ(second.Error(), PortError::kInUse);
  EXPECT_EQ(second.FailureCause(), line.SlavePath() + " is in use by another program");
  first.Close();
  {
    Holder holder(line.SlavePath());
    EXPECT_EQ(OpenLoaderPort(line.SlavePath()).FailureCause(),
              line.SlavePath() + " is in use by " + holder.Name());
  }
  EXPECT_TRUE(OpenLoaderPort(line.SlavePath()).IsOpen());

  testing::TempFolder locks("kelvo-locks");
  const fs::path lock = locks.Path() / ("LCK..pts_" + line.SlavePath().substr(9));
  const fs::path pid_file = locks.Path() / "elsewhere";
  Holder live;
  std::ofstream(pid_file) << std::setw(10) << live.pid << '\n';
  const auto holder = [&](const std::function<void()>& plant) {
    fs::remove(lock);
    plant();
    return FindPortHolder(line.SlavePath(), {locks.Path().string()});
  };
  EXPECT_EQ(holder([&] { fs::copy_file(pid_file, lock); }), live.Name());
  EXPECT_EQ(holder([&] { fs::create_symlink(pid_file, lock); }), "");
  const auto start = SteadyClock::now();
  EXPECT_EQ(holder([&] { ::mkfifo(lock.c_str(), 0666); }), "");
  EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(1));
  live.End();
  EXPECT_EQ(holder([&] { fs::copy_file(pid_file, lock); }), "") << "the process has gone";
  EXPECT_EQ(holder([] {}), "");
}

// What reached the line before the port opened belongs to no transfer: the first read, on a
// silent line, finds nothing. Where the driver takes RS-485 mode, the kernel switches RTS.
TEST(OpenLoaderPort, SetsUpAFreshRaw9600BaudLineInRs485ModeWhereTakenAndCloseRestoresTheMode) {
  PseudoTerminal line;
  const int early_reader = ::open(line.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(early_reader, 0);
  ASSERT_TRUE(line.Write(Bytes{0x15}));
  int queued = 0;
  while (queued == 0) ASSERT_EQ(::ioctl(early_reader, FIONREAD, &queued), 0);
  serial_rs485 previous{};
  previous.flags = SER_RS485_RTS_AFTER_SEND;
  previous.delay_rts_after_send = 20;
  testing::LineDouble uart(Driver::kUart16550, previous);
  SerialPort port = OpenLoaderPort(line.SlavePath(), uart);
  ::close(early_reader);
  ASSERT_TRUE(port.IsOpen());
  termios settings{};
  ASSERT_EQ(tcgetattr(line.MasterFd(), &settings), 0);
  EXPECT_EQ(cfgetospeed(&settings), B9600);
  EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0u);
  Bytes reply(133);
  EXPECT_EQ(port.Read(reply), 0u);
  EXPECT_FALSE(port.Lost()) << "a silent line is no lost line";

  const serial_rs485 mode = uart.Rs485();
  EXPECT_EQ(mode.flags & (SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RTS_AFTER_SEND),
            static_cast<__u32>(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND));
  EXPECT_EQ(mode.delay_rts_after_send, 0u);
  EXPECT_EQ(port.Write(Bytes(64, 0x05)), 64u);
  EXPECT_TRUE(uart.RtsChanges().empty()) << "the port switched RTS as well";
  port.Close();
  EXPECT_EQ(uart.Rs485().flags, previous.flags);
  EXPECT_EQ(uart.Rs485().delay_rts_after_send, previous.delay_rts_after_send);
}

// A drain that a device never lets end is cut off at its deadline; a call that ends in time keeps
// its result.
TEST(CallBefore, InterruptsABlockingCallAtTheDeadlineOnly) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  char byte = 0;
  const auto read_byte = [&] { return static_cast<int>(::read(pipe_fds[0], &byte, 1)); };
  const auto start = SteadyClock::now();
  EXPECT_EQ(CallBefore(start + 50ms, read_byte), -1);
  EXPECT_EQ(errno, EINTR);
  const auto waited = SteadyClock::now() - start;
  EXPECT_GE(waited, 50ms);
  EXPECT_LT(waited, 500ms);
  ASSERT_EQ(::write(pipe_fds[1], "x", 1), 1);
  EXPECT_EQ(CallBefore(SteadyClock::now() + 50ms, read_byte), 1);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
}

// The port's promises (serial_port.h), held against every kind of driver it meets.
// Upper bounds allow this much for a loaded test machine; the faults they catch are larger.
constexpr auto kLate = 30ms;

struct Personality {
  const char* name;
  std::optional<Driver> driver;  // none: the pseudo-terminal itself, as the system drives it
};

// A port on a pseudo-terminal whose device end the test plays, through the personality's driver.
class PortContract : public ::testing::TestWithParam<Personality> {
 protected:
  void SetUp() override { ASSERT_TRUE(port.IsOpen()); }
  bool Paced() const { return driver && GetParam().driver != Driver::kCdcAcm; }

  PseudoTerminal terminal;
  std::unique_ptr<testing::LineDouble> driver =
      GetParam().driver ? std::make_unique<testing::LineDouble>(*GetParam().driver) : nullptr;
  SerialPort port = OpenLoaderPort(terminal.SlavePath(), driver ? *driver : SystemLineDriver());
};

// Ten bytes asked for: five come at once and five 6 ms later, then three alone. A block's write
// on a 9600-baud line lasts its 137.5 ms and no longer, whatever the driver counts; RTS, where the
// port switches it, covers every bit of it. Then the device vanishes.
TEST_P(PortContract, ReadsAndWritesLastAsLongAsTheirBytesRtsCoversThemAndAVanishedDeviceIsFound) {
  Bytes got(10);
  ASSERT_TRUE(terminal.Write(Bytes(5, 0x55)));
  auto start = SteadyClock::now();
  SteadyClock::time_point sent{};
  std::thread late([&] {
    std::this_thread::sleep_until(start + 6ms);
    terminal.Write(Bytes(5, 0x55));
    sent = SteadyClock::now();
  });
  EXPECT_EQ(port.Read(got), 10u);
  const auto returned = SteadyClock::now();
  late.join();
  EXPECT_LT(returned - sent, kLate) << "the read waited on after its bytes had come";

  ASSERT_TRUE(terminal.Write(Bytes(3, 0x15)));
  start = SteadyClock::now();
  EXPECT_EQ(port.Read(got), 3u);
  const auto waited = SteadyClock::now() - start;
  EXPECT_GE(waited, 11ms);  // 1 ms a byte asked for, and 1 ms
  EXPECT_LT(waited, 11ms + kLate);

  const std::chrono::nanoseconds line_time = kDataPacketSize * kByteTime;
  start = SteadyClock::now();
  EXPECT_EQ(port.Write(Bytes(kDataPacketSize, 0x55)), kDataPacketSize);
  const auto wrote = SteadyClock::now();
  EXPECT_LT(wrote - start, (Paced() ? line_time : 0ns) + 20ms + kLate);
  if (driver) {
    const auto left = driver->Departures();
    EXPECT_GE(wrote - left.back(), 0ns) << "returned before the driver had the bytes gone";
    // Dropped at the open, raised and dropped around the write; never where no transceiver is.
    const auto rts = driver->RtsChanges();
    ASSERT_EQ(rts.size(), Paced() ? 3u : 0u);
    if (Paced()) {
      EXPECT_TRUE(rts[1].raised);
      EXPECT_GE(left.front() - rts[1].at, kByteTime) << "raised after a byte began";
      EXPECT_FALSE(rts[2].raised);
      const auto after_last = rts[2].at - left.back();
      EXPECT_GE(after_last, 0ns) << "dropped before the last byte had left";
      EXPECT_GE(rts[2].at - start, line_time + kByteTime) << "dropped within the write's line time";
      if (GetParam().driver == Driver::kUart16550) {
        EXPECT_LT(after_last, 2ms + kLate);
      }
    }
  }

  terminal.Close();
  start = SteadyClock::now();
  EXPECT_EQ(port.Read(got), 0u);
  EXPECT_TRUE(port.Lost());
  EXPECT_EQ(port.Write(got), 0u);
  EXPECT_LT(SteadyClock::now() - start, 200ms) << "a lost line moved or waited";
}

// A USB device that stops reading stays plugged in: its bytes never leave and its driver never
// drains. The write gives up at its limit, 100 ms a byte and 100 ms, and the close still ends
// (Halt must give the operator Start back) and leaves the line as it was.
TEST_P(PortContract, AWriteToADeviceThatStopsReadingGivesUpAtItsLimitAndCloseStillReturns) {
  if (driver) {
    driver->StopAfter(1);
  } else {  // a pseudo-terminal's device stops reading: its buffer fills up
    const int fd = ::open(terminal.SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    const std::uint8_t byte = 0x55;
    while (::write(fd, &byte, 1) == 1) {
    }
    ::close(fd);
  }
  auto start = SteadyClock::now();
  EXPECT_LT(port.Write(Bytes{0x04, 0x04}), 2u);
  const auto waited = SteadyClock::now() - start;
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 300ms + kLate);
  if (driver) {
    EXPECT_GT(driver->Discards(), 0u) << "what did not leave goes out later";
  }

  start = SteadyClock::now();
  port.Close();
  EXPECT_LT(SteadyClock::now() - start, 1s);
  termios after{};
  ASSERT_EQ(::tcgetattr(terminal.MasterFd(), &after), 0);
  EXPECT_NE(::cfgetospeed(&after), static_cast<speed_t>(B9600))
      << "the old settings did not return";
}

INSTANTIATE_TEST_SUITE_P(Drivers, PortContract,
                         ::testing::Values(Personality{"Uart16550", Driver::kUart16550},
                                           Personality{"UsbAdapter", Driver::kUsbAdapter},
                                           Personality{"CdcAcm", Driver::kCdcAcm},
                                           Personality{"PseudoTerminal", std::nullopt}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvo
