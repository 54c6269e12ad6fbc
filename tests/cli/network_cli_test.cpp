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

#include "doubles/temp_folder.h"
#include "image/printf_text.h"
#include "simulator/zarq_simulator.h"

extern char** environ;

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// Starts the program with its output and errors to the file; returns its process id.
pid_t Spawn(std::vector<std::string> args, const fs::path& output) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

class NetworkCli : public ::testing::TestWithParam<const char*> {
 protected:
  // ser2net serving the device on port, for the test's length.
  void StartSer2net(const std::string& device) {
    std::ofstream(folder_ / "ser2net.yaml")
        << "%YAML 1.1\n---\nconnection: &device\n  accepter: "
        << (GetParam() == std::string("rfc2217") ? "telnet(rfc2217),tcp" : "tcp") << ",127.0.0.1,"
        << port_ << "\n  connector: serialdev," << device << ",9600n81,local\n";
    ser2net_ = Spawn({"ser2net", "-n", "-d", "-u", "-c", (folder_ / "ser2net.yaml").string()},
                     folder_ / "ser2net.log");
    // Listening shows in the kernel's table, without a connection that would open the device.
    const std::string listening = Printf(":%04X 00000000:0000 0A", port_);
    for (int tries = 0; tries < 500; ++tries) {
      if (testing::FileContents("/proc/net/tcp").find(listening) != std::string::npos) return;
      std::this_thread::sleep_for(milliseconds(10));
    }
  }
  void StopSer2net() {
    if (ser2net_ > 0) ::kill(ser2net_, SIGTERM);
    if (ser2net_ > 0) ExitStatus(std::exchange(ser2net_, -1));
  }
  ~NetworkCli() override { StopSer2net(); }

  // kelvo-cli on the port with the file; returns its exit status, its output in output_. A port
  // that garbles blocks has them refused without end: the time limit makes that a failure.
  int Cli(const std::string& file, const std::function<void()>& meanwhile = {}) {
    const pid_t pid =
        Spawn({KELVO_CLI_PATH, "--timeout", "30", "--port", name_, (folder_ / file).string()},
              folder_ / "cli.log");
    if (meanwhile) meanwhile();
    const int status = ExitStatus(pid);
    output_ = testing::FileContents(folder_ / "cli.log");
    return status;
  }
  void Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(folder_ / name) << std::string(bytes.begin(), bytes.end());
  }

  testing::TempFolder folder{"kelvo-network"};
  fs::path folder_ = folder.Path();
  int port_ = FreePort();
  std::string name_ = GetParam() + ("://127.0.0.1:" + std::to_string(port_));
  pid_t ser2net_ = -1;
  std::string output_;
};

// Blocks full of 0xFF beside CR NUL, Telnet's other trap, and two gaps of blank blocks; then a
// script whose bursts hold 0xFF.
TEST_P(NetworkCli, AnUploadAndAScriptReachTheDeviceIntact) {
  Bytes image;
  for (int block = 0; block < 9; ++block) {
    for (int i = 0; i < 128; ++i) {
      const bool blank = block == 2 || block == 5 || block == 6;
      image.push_back(blank || i % 3 == 0 ? 0xFF : i % 3 == 1 ? 0x0D : 0x00);
    }
  }
  image.resize(image.size() - 50);
  Write("app.bin", image);
  std::ofstream(folder_ / "load.scr") << "SEND FF FF\nSEND 04\n";
  ZarqSimulator device;
  StartSer2net(device.PortPath());
  EXPECT_EQ(Cli("app.bin"), 0) << output_;
  EXPECT_NE(output_.find("3 Unused Blocks Skipped"), std::string::npos) << output_;
  const Bytes memory = device.Memory();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), memory.begin() + 0x20000));

  const std::size_t uploaded = device.Frames().size();
  EXPECT_EQ(Cli("load.scr"), 0) << output_;
  ASSERT_TRUE(device.AwaitFrames(uploaded + 3, milliseconds(2000)));
  const std::vector<ReceivedFrame> frames = device.Frames();
  EXPECT_EQ(frames[uploaded].bytes, Bytes{0xFF});
  EXPECT_EQ(frames[uploaded + 1].bytes, Bytes{0xFF});
  EXPECT_EQ(frames[uploaded + 2].kind, ReceivedFrame::Kind::kEot);
}

TEST_P(NetworkCli, TheServerStoppedMidUploadLosesThePort) {
  Write("app.bin", Bytes(128 * 400, 0x5A));
  ZarqSimulator device;
  StartSer2net(device.PortPath());
  EXPECT_EQ(Cli("app.bin",
                [&] {
                  device.AwaitFrames(6, milliseconds(5000));
                  StopSer2net();
                }),
            1);
  EXPECT_NE(output_.find("Lost the port " + name_ + ". Aborting Programming"), std::string::npos)
      << output_;
}

TEST_P(NetworkCli, ARefusedConnectionFailsTheOpenNamingHostAndPort) {
  Write("app.bin", Bytes(128, 0x5A));
  EXPECT_EQ(Cli("app.bin"), 1);
  EXPECT_NE(
      output_.find("Opening Port " + name_ + " . . . Failed\nno connection to 127.0.0.1 port " +
                   std::to_string(port_) + ": connection refused\n"),
      std::string::npos)
      << output_;
}

INSTANTIATE_TEST_SUITE_P(Schemes, NetworkCli, ::testing::Values("rfc2217", "tcp"));

}  // namespace
}  // namespace kelvo
