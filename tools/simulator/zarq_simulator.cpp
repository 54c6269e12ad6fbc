#include "simulator/zarq_simulator.h"

#include <fstream>

#include "simulator/device_faults.h"
#include "simulator/device_protocol.h"
#include "simulator/paced_line.h"

namespace kelvo {

struct ZarqSimulator::Device {
  explicit Device(const SimulatorOptions& options)
      : faults(options), protocol(faults), line(options.paced, protocol, faults) {}
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

bool ZarqSimulator::AwaitFrames(std::size_t count, std::chrono::milliseconds limit) const {
  return device_->protocol.AwaitFrames(count, limit);
}

bool ZarqSimulator::SaveMemory(const std::string& path) const {
  const std::vector<std::uint8_t> memory = Memory();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(memory.data()),
             static_cast<std::streamsize>(memory.size()));
  return static_cast<bool>(file.flush());
}

bool ZarqSimulator::SaveFrameLog(const std::string& path) const {
  std::ofstream file(path, std::ios::trunc);
  for (const std::string& line : FrameLog()) file << line << '\n';
  return static_cast<bool>(file.flush());
}

}  // namespace kelvo
