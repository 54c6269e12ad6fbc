#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvo::cli {

// The ZARQ device that --simulate puts at the other end of a line inside this program.
class SimulatedDevice {
 public:
  virtual ~SimulatedDevice() = default;
  virtual std::string PortName() const = 0;              // for --port
  virtual std::vector<std::uint8_t> Memory() const = 0;  // a snapshot of the whole memory
};

// Starts the device, on a line paced at 9600 baud or at full speed; on a system that cannot
// give it a line, or when the line cannot be made, nullptr with why set.
std::unique_ptr<SimulatedDevice> StartSimulatedDevice(bool paced, std::string& why);

// How --help describes --simulate on this system.
extern const char kSimulateText[];

}  // namespace kelvo::cli
