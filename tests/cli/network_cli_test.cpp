// kelvo-cli through ser2net, the device server, in front of the simulated device: for each kind of
// network port, at the real clock's speed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "image/printf_text.h"
#include "simulator/zarq_simulator.h"
#include "support/record_files.h"
#include "support/temp_folder.h"

extern char** environ;

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// Starts the program with its output to the file; returns its process id.
pid_t Spawn(std::vector<std::string> args, const fs::path& output) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A loopback port that nothing listens on now: the system's pick for a socket that then goes.
int FreePort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(probe);
  return ntohs(address.sin_port);
}

// ser2net serving one device on a free loopback port, for one test.
class Ser2net {
 public:
  Ser2net(const std::string& scheme, const std::string& device, const fs::path& folder)
      : port_(FreePort()) {
    const std::string accepter = scheme == "rfc2217" ? "telnet(rfc2217),tcp" : "tcp";
    std::ofstream(folder / "ser2net.yaml")
        << "%YAML 1.1\n---\nconnection: &device\n  accepter: " << accepter << ",127.0.0.1," << port_
        << "\n  connector: serialdev," << device << ",9600n81,local\n";
    pid_ = Spawn({"ser2net", "-n", "-d", "-u", "-c", (folder / "ser2net.yaml").string()},
                 folder / "ser2net.log");
    // Listening shows in the kernel's table, without a connection that would open the device.
    const std::string listening = Printf(":%04X 00000000:0000 0A", port_);
    for (int tries = 0; tries < 500 && !Listening(listening); ++tries) {
      std::this_thread::sleep_for(milliseconds(10));
    }
  }
  ~Ser2net() { Stop(); }
  int Port() const { return port_; }
  void Stop() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    ExitStatus(std::exchange(pid_, -1));
  }

 private:
  static bool Listening(const std::string& entry) {
    return testing::FileContents("/proc/net/tcp").find(entry) != std::string::npos;
  }
  int port_;
  pid_t pid_ = -1;
};

struct CliRun {
  int status;
  std::string output;
};

class NetworkCli : public ::testing::TestWithParam<const char*> {
 protected:
  std::string PortName(int port) const {
    return GetParam() + std::string("://127.0.0.1:") + std::to_string(port);
  }
  // kelvo-cli on the port with FILE, its standard output and errors in one; while it runs,
  // during(pid) if given.
  CliRun Cli(int port, const std::string& file, const std::function<void()>& during = {}) {
    const pid_t pid = Spawn({KELVO_CLI_PATH, "--port", PortName(port), (folder_ / file).string()},
                            folder_ / "cli.log");
    if (during) during();
    const int status = ExitStatus(pid);
    return {status, testing::FileContents(folder_ / "cli.log")};
  }
  void Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(folder_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }
  testing::TempFolder folder{"kelvo-network"};
  fs::path folder_ = folder.Path();
};

// Blocks full of 0xFF beside CR NUL, Telnet's other trap, and two gaps of blank blocks.
TEST_P(NetworkCli, AnUploadLeavesTheImageInTheDevice) {
  Bytes image;
  for (int block = 0; block < 9; ++block) {
    for (int i = 0; i < 128; ++i) {
      const bool blank = block == 2 || block == 5 || block == 6;
      image.push_back(blank || i % 3 == 0 ? 0xFF : i % 3 == 1 ? 0x0D : 0x00);
    }
  }
  image.resize(image.size() - 50);
  Write("app.bin", image);
  ZarqSimulator device;
  Ser2net server(GetParam(), device.PortPath(), folder_);
  const CliRun run = Cli(server.Port(), "app.bin");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("3 Unused Blocks Skipped"), std::string::npos) << run.output;
  const Bytes memory = device.Memory();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), memory.begin() + 0x20000));
}

TEST_P(NetworkCli, AScriptsBytesArriveAsItsBursts) {
  std::ofstream(folder_ / "load.scr") << "SEND 05 41 BE 00 20\nSEND FF FF\nSEND 04\n";
  ZarqSimulator device;
  Ser2net server(GetParam(), device.PortPath(), folder_);
  const CliRun run = Cli(server.Port(), "load.scr");
  EXPECT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(device.AwaitFrames(4, milliseconds(2000)));
  const std::vector<ReceivedFrame> frames = device.Frames();
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].bytes, (Bytes{0x05, 0x41, 0xBE, 0x00, 0x20}));
  EXPECT_EQ(frames[1].bytes, Bytes{0xFF});
  EXPECT_EQ(frames[2].bytes, Bytes{0xFF});
  EXPECT_EQ(frames[3].kind, ReceivedFrame::Kind::kEot);
}

TEST_P(NetworkCli, TheServerStoppedMidUploadLosesThePort) {
  Write("app.bin", Bytes(128 * 400, 0x5A));
  ZarqSimulator device;
  Ser2net server(GetParam(), device.PortPath(), folder_);
  const CliRun run = Cli(server.Port(), "app.bin", [&] {
    device.AwaitFrames(6, milliseconds(5000));
    server.Stop();
  });
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Lost the port " + PortName(server.Port()) + ". Aborting Programming"),
            std::string::npos)
      << run.output;
}

TEST_P(NetworkCli, ARefusedConnectionFailsTheOpenNamingHostAndPort) {
  Write("app.bin", Bytes(128, 0x5A));
  const int port = FreePort();
  const CliRun run = Cli(port, "app.bin");
  EXPECT_EQ(run.status, 1);
  const std::string cause =
      "no connection to 127.0.0.1 port " + std::to_string(port) + ": connection refused\n";
  EXPECT_NE(run.output.find("Opening Port " + PortName(port) + " . . . Failed\n" + cause),
            std::string::npos)
      << run.output;
}

INSTANTIATE_TEST_SUITE_P(Schemes, NetworkCli, ::testing::Values("rfc2217", "tcp"));

}  // namespace
}  // namespace kelvo
