#include "simulated_device.h"

namespace kelvo::cli {

const char kSimulateText[] =
    "--simulate is not available on Windows, which has no pseudo-terminals for the\n"
    "simulated device: run zarq-sim on Linux, or use a device.";

std::unique_ptr<SimulatedDevice> StartSimulatedDevice(bool, std::string& why) {
  why = "--simulate is not available on Windows";
  return nullptr;
}

}  // namespace kelvo::cli
