#include "simulator/zarq_simulator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/output_file.h"
#include "simulator/device_faults.h"
#include "simulator/device_protocol.h"
#include "simulator/paced_line.h"

namespace kelvo {

struct ZarqSimulator::Device {
  explicit Device(const SimulatorOptions& options)
      : faults(options), protocol(faults), line(options, protocol, faults) {}
  DeviceFaults faults;
  DeviceProtocol protocol;
  PacedLine line;
};

ZarqSimulator::ZarqSimulator(SimulatorOptions options)
    : device_(std::make_unique<Device>(options)) {
  if (!device_->line.IsOpen()) return;
  running_.store(true);
  thread_ = std::thread([this] {
    device_->line.Run();
    running_.store(false);
  });
}

ZarqSimulator::~ZarqSimulator() {
  Stop();
}

void ZarqSimulator::Stop() {
  device_->line.Stop();
  if (thread_.joinable()) thread_.join();
  device_->line.Close();
  running_.store(false);
}

const std::string& ZarqSimulator::PortPath() const {
  return device_->line.SlavePath();
}

std::vector<std::uint8_t> ZarqSimulator::Memory() const {
  return device_->protocol.Memory();
}

std::vector<ReceivedFrame> ZarqSimulator::Frames() const {
  return device_->protocol.Frames();
}

std::vector<std::string> ZarqSimulator::FrameLog() const {
  return device_->protocol.FrameLog();
}

int ZarqSimulator::EotCount() const {
  return device_->protocol.EotCount();
}

std::vector<std::vector<std::uint8_t>> ZarqSimulator::TakeLoadedBoards() {
  return device_->protocol.TakeLoadedBoards();
}

bool ZarqSimulator::AwaitFrames(std::size_t count, std::chrono::milliseconds limit) const {
  return device_->protocol.AwaitFrames(count, limit);
}

std::string WriteOutputFile(const std::string& path, const std::string& bytes) {
  std::string why;
  std::FILE* file = OpenOutputFile(path, {}, why);
  if (!file) return why;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) return path + ": " + std::strerror(errno);
  return "";
}

std::string ZarqSimulator::SaveMemory(const std::string& path) const {
  const std::vector<std::uint8_t> memory = Memory();
  return WriteOutputFile(path, std::string(memory.begin(), memory.end()));
}

std::string ZarqSimulator::SaveFrameLog(const std::string& path) const {
  std::string lines;
  for (const std::string& line : FrameLog()) lines += line + '\n';
  return WriteOutputFile(path, lines);
}

}  // namespace kelvo
