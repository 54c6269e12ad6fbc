// kelvo-cli through ser2net, the device server, in front of the simulated device: for each kind of
// network port, at the real clock's speed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "cli_process.h"
#include "doubles/temp_folder.h"
#include "image/printf_text.h"
#include "simulator/zarq_simulator.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using ::testing::HasSubstr;

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
  // ser2net serving the device on port_, until the test ends or stops it; its output goes to a
  // folder of its own.
  void StartSer2net(const std::string& device) {
    std::ofstream(folder_ / "ser2net.yaml")
        << "%YAML 1.1\n---\nconnection: &device\n  accepter: "
        << (GetParam() == std::string("rfc2217") ? "telnet(rfc2217),tcp" : "tcp") << ",127.0.0.1,"
        << port_ << "\n  connector: serialdev," << device << ",9600n81,local\n";
    fs::create_directory(folder_ / "ser2net");
    ser2net_.emplace(std::vector<std::string>{"-n", "-d", "-u", "-c", "../ser2net.yaml"},
                     folder_ / "ser2net", -1, "ser2net");
    // Listening shows in the kernel's table, without a connection that would open the device.
    const std::string listening = Printf(":%04X 00000000:0000 0A", port_);
    for (int tries = 0; tries < 500; ++tries) {
      if (FileContents("/proc/net/tcp").find(listening) != std::string::npos) return;
      std::this_thread::sleep_for(milliseconds(10));
    }
  }

  // kelvo-cli on the port with the file. A port that garbles blocks has them refused without
  // end: the time limit makes that a failure.
  CliProcess Cli(const std::string& file) {
    return CliProcess({"--timeout", "30", "--port", name_, file}, folder_);
  }

  testing::TempFolder temp_folder_{"kelvo-network"};
  fs::path folder_ = temp_folder_.Path();
  int port_ = FreePort();
  std::string name_ = GetParam() + ("://127.0.0.1:" + std::to_string(port_));
  std::optional<CliProcess> ser2net_;
};

// Refused while no server listens. Then, through ser2net: blocks full of 0xFF beside CR NUL,
// Telnet's other trap, and two gaps of blank blocks; a script whose bursts hold 0xFF; and an
// upload that loses the port when the server stops.
TEST_P(NetworkCli, CarriesAnUploadAndAScriptIntactAndFailsOnARefusedOrLostConnection) {
  const std::uint8_t pattern[] = {0xFF, 0x0D, 0x00};
  Bytes image(9 * 128 - 50, 0xFF);  // blocks 2, 5 and 6 blank
  for (std::size_t i = 0; i < image.size(); ++i)
    if (i / 128 != 2 && i / 128 != 5 && i / 128 != 6) image[i] = pattern[i % 128 % 3];
  testing::WriteFileBytes(folder_ / "app.bin", image);
  testing::WriteFileBytes(folder_ / "long.bin", Bytes(128 * 400, 0x5A));
  std::ofstream(folder_ / "load.scr") << "SEND FF FF\nSEND 04\n";
  CliProcess refused = Cli("app.bin");
  EXPECT_EQ(refused.Wait(), 1);
  EXPECT_THAT(refused.Stdout(),
              HasSubstr("Opening Port " + name_ + " . . . Failed\nno connection to " +
                        "127.0.0.1 port " + std::to_string(port_) + ": connection refused\n"));

  ZarqSimulator device;
  StartSer2net(device.PortPath());
  CliProcess upload = Cli("app.bin");
  EXPECT_EQ(upload.Wait(), 0) << upload.Stdout() << upload.Stderr();
  EXPECT_THAT(upload.Stdout(), HasSubstr("3 Unused Blocks Skipped"));
  const Bytes memory = device.Memory();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), memory.begin() + 0x20000));

  const std::size_t uploaded = device.Frames().size();
  CliProcess script = Cli("load.scr");
  EXPECT_EQ(script.Wait(), 0) << script.Stdout() << script.Stderr();
  ASSERT_TRUE(device.AwaitFrames(uploaded + 3, milliseconds(2000)));
  const std::vector<ReceivedFrame> frames = device.Frames();
  EXPECT_EQ(frames[uploaded].bytes, Bytes{0xFF});
  EXPECT_EQ(frames[uploaded + 1].bytes, Bytes{0xFF});
  EXPECT_EQ(frames[uploaded + 2].kind, ReceivedFrame::Kind::kEot);

  CliProcess lost = Cli("long.bin");
  device.AwaitFrames(frames.size() + 6, milliseconds(5000));
  ser2net_->Signal(SIGTERM);
  ser2net_->Wait();
  EXPECT_EQ(lost.Wait(), 1);
  EXPECT_THAT(lost.Stdout(), HasSubstr("Lost the port " + name_ + ". Aborting Programming"));
}

INSTANTIATE_TEST_SUITE_P(Schemes, NetworkCli, ::testing::Values("rfc2217", "tcp"));

}  // namespace
}  // namespace kelvo
