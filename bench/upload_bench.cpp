// Uploads through the whole transfer to the simulated device and reports the figures that
// matter on the line: time per block against the line time at 9600 baud with a paced device,
// and the program's own cost per block with a device that answers at once.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doubles/fast_ticker.h"
#include "doubles/line_doubles.h"
#include "serial/protocol.h"
#include "serial/ticker.h"
#include "simulator/zarq_simulator.h"
#include "transfer/form_model.h"
#include "transfer/run_transfer.h"
#include "transfer/shared_state.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// A packet out and its reply back, 10 bit times a byte at 9600 baud.
constexpr double kLineMsPerBlock = (kDataPacketSize + kPacketReplySize) * 10 * 1000.0 / 9600;
constexpr std::size_t kImageOffset = 0x20000;

double Seconds(SteadyClock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double ProcessCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The simulated device in a child process of its own, so that the CPU time this process
// measures is the program's alone. Fork before this process starts any thread.
class DeviceProcess {
 public:
  explicit DeviceProcess(const SimulatorOptions& options) {
    int up[2];
    int down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      RunChild(options, up[1], down[0]);
    }
    ::close(up[1]);
    ::close(down[0]);
    to_child_ = down[1];
    char path[256] = {};
    const ssize_t n = ::read(up[0], path, sizeof path - 1);
    ::close(up[0]);
    if (n > 0) port_path_.assign(path, static_cast<std::size_t>(n));
  }

  ~DeviceProcess() { Finish(""); }

  const std::string& PortPath() const { return port_path_; }

  // Lets the device save its memory to memory_path (none if empty) and end; true if it did.
  bool Finish(const std::string& memory_path) {
    if (pid_ <= 0) return false;
    const std::string request = memory_path + "\n";
    const bool sent =
        ::write(to_child_, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    ::close(to_child_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return sent && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  [[noreturn]] static void RunChild(const SimulatorOptions& options, int up, int down) {
    int code = 1;
    {
      ZarqSimulator sim(options);
      const std::string path = sim.IsRunning() ? sim.PortPath() : "";
      if (::write(up, path.data(), path.size()) == static_cast<ssize_t>(path.size())) {
        std::string request;
        char c = 0;
        while (::read(down, &c, 1) == 1 && c != '\n') request += c;
        code = request.empty() || sim.SaveMemory(request).empty() ? 0 : 1;
      }
    }
    ::_exit(code);
  }

  pid_t pid_ = -1;
  int to_child_ = -1;
  std::string port_path_;
};

// Notes when the first and the last reply to a packet have come in whole: one block's time
// apart for every block after the first.
class BlockTimes : public PortTap {
 public:
  void OnBytes(Direction direction, std::span<const std::uint8_t> bytes) override {
    if (direction != Direction::kReceived || bytes.size() != kPacketReplySize) return;
    last_reply = SteadyClock::now();
    if (replies_++ == 0) first_reply = last_reply;
  }
  SteadyClock::time_point first_reply;
  SteadyClock::time_point last_reply;

 private:
  std::size_t replies_ = 0;
};

struct Figures {
  bool complete = false;     // reached EOT and the device holds the image
  double programming_s = 0;  // first reply in to last reply in
  double wall_s = 0;         // the whole transfer
  double cpu_s = 0;          // this process's CPU time during the transfer
};

enum class Clocking { kRealTime, kFast };

Figures Upload(std::size_t image_size, const SimulatorOptions& options, int response_delay,
               Clocking clocking, LineDriver* line = nullptr) {
  DeviceProcess device(options);
  const std::string dir =
      std::filesystem::temp_directory_path() / ("kelvo-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string image_path = dir + "/image.bin";
  const std::string memory_path = dir + "/memory.bin";
  Bytes image(image_size);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 251);
  std::ofstream(image_path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));

  FormModel form;
  form.SetText(Control::FileEdit, image_path);
  form.SetText(Control::PortCombo, device.PortPath());
  form.SetText(Control::DeviceTypeCombo, "ZARQ 40 - 580");
  form.SetText(Control::StartAddressCombo, "0x2000");
  form.SetText(Control::ResponseDelayEdit, std::to_string(response_delay));
  SharedState shared;
  BlockTimes times;

  Figures figures;
  {
    std::unique_ptr<Ticker> real;
    std::unique_ptr<testing::FastTicker> fast;
    if (clocking == Clocking::kRealTime) {
      real = std::make_unique<Ticker>(shared.clock);
    } else {
      fast = std::make_unique<testing::FastTicker>(shared.clock);
    }
    const double cpu_start = ProcessCpuSeconds();
    const auto wall_start = SteadyClock::now();
    const TransferResult result =
        RunTransfer(TransferKind::kUploadImage, form, shared, {.tap = &times, .driver = line});
    figures.wall_s = Seconds(SteadyClock::now() - wall_start);
    figures.cpu_s = ProcessCpuSeconds() - cpu_start;
    figures.complete = result.outcome == TransferOutcome::kComplete;
  }
  figures.programming_s = Seconds(times.last_reply - times.first_reply);

  Bytes memory(kImageOffset + image_size);
  const bool saved = device.Finish(memory_path);
  std::ifstream(memory_path, std::ios::binary)
      .read(reinterpret_cast<char*>(memory.data()), static_cast<std::streamsize>(memory.size()));
  figures.complete = figures.complete && saved &&
                     std::equal(image.begin(), image.end(), memory.begin() + kImageOffset);
  std::filesystem::remove_all(dir);
  return figures;
}

void Report(benchmark::State& state, const Figures& figures, const char* failure) {
  state.SetIterationTime(figures.wall_s);
  if (!figures.complete) state.SkipWithError(failure);
}

// Each kind of line with the response delay the README gives for it, the clock ticking in real
// time: per block against the line time at 9600 baud, or blocks a second where no UART paces
// the bytes.
struct LineKind {
  const char* name;
  std::optional<testing::Driver> driver;  // none: the pseudo-terminal itself
  int response_delay;
  std::size_t blocks;
};
const LineKind kLineKinds[] = {
    {"16550 UART", testing::Driver::kUart16550, 100, 64},
    {"USB adapter", testing::Driver::kUsbAdapter, 100, 64},
    {"pseudo-terminal", std::nullopt, 200, 64},
    {"CDC-ACM", testing::Driver::kCdcAcm, 0, 2048},
};

void BM_UploadOverALine(benchmark::State& state) {
  const LineKind& kind = kLineKinds[state.range(0)];
  const bool paced = kind.driver != testing::Driver::kCdcAcm;
  for (auto _ : state) {
    SimulatorOptions options;
    options.paced = paced;
    std::optional<testing::LineDouble> driver;
    if (kind.driver) driver.emplace(*kind.driver);
    const Figures f = Upload(kind.blocks * kBlockSize, options, kind.response_delay,
                             Clocking::kRealTime, driver ? &*driver : nullptr);
    Report(state, f, "the upload did not complete");
    const double ms_per_block = f.programming_s * 1000 / static_cast<double>(kind.blocks - 1);
    state.SetLabel(kind.name);
    if (paced) {
      state.counters["ms_per_block"] = ms_per_block;
      state.counters["x_line_time"] = ms_per_block / kLineMsPerBlock;
      std::printf(
          "%s, %d ms delay: %.1f ms per block = %.4f x the line time of %.1f ms (target <= "
          "1.03); CPU %.2f %% of the time\n",
          kind.name, kind.response_delay, ms_per_block, ms_per_block / kLineMsPerBlock,
          kLineMsPerBlock, 100 * f.cpu_s / f.wall_s);
    } else {
      state.counters["blocks_per_s"] = 1000 / ms_per_block;
      std::printf("%s, %d ms delay: %.0f blocks a second (target >= 200)\n", kind.name,
                  kind.response_delay, 1000 / ms_per_block);
    }
  }
}
BENCHMARK(BM_UploadOverALine)
    ->DenseRange(0, std::size(kLineKinds) - 1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// The largest image to a device that answers at once, as a USB device that ignores the baud
// rate would.
void BM_UnpacedUpload(benchmark::State& state) {
  constexpr std::size_t kBlocks = 7168;
  for (auto _ : state) {
    const Figures f = Upload(kBlocks * kBlockSize, SimulatorOptions{}, 0, Clocking::kFast);
    Report(state, f, "upload to the unpaced device did not complete");
    const double blocks_per_s = (kBlocks - 1) / f.programming_s;
    const double overhead_us = f.cpu_s * 1e6 / kBlocks;
    state.counters["blocks_per_s"] = blocks_per_s;
    state.counters["cpu_us_per_block"] = overhead_us;
    std::printf(
        "unpaced: %zu blocks in %.3f s = %.0f blocks/s (target >= 5000); program's CPU "
        "%.1f us per block, %.1f us wall per block\n",
        kBlocks, f.programming_s, blocks_per_s, overhead_us, 1e6 / blocks_per_s);
  }
}
BENCHMARK(BM_UnpacedUpload)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
