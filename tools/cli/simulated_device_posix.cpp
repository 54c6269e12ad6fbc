#include "simulated_device.h"
#include "simulator/zarq_simulator.h"

namespace kelvo::cli {

const char kSimulateText[] =
    "--simulate runs against a simulated ZARQ device on a pseudo-terminal inside this\n"
    "program, over a line paced like a real 9600-baud cable; unless --delay is given,\n"
    "the response delay is then 200 ms, which that line needs. --instant drops the\n"
    "pacing. After an upload it reports whether the device's memory holds the image.";

namespace {

class PseudoTerminalDevice final : public SimulatedDevice {
 public:
  explicit PseudoTerminalDevice(bool paced) : simulator_(SimulatorOptions{.paced = paced}) {}
  bool IsRunning() const { return simulator_.IsRunning(); }
  std::string PortName() const override { return simulator_.PortPath(); }
  std::vector<std::uint8_t> Memory() const override { return simulator_.Memory(); }

 private:
  ZarqSimulator simulator_;
};

}  // namespace

std::unique_ptr<SimulatedDevice> StartSimulatedDevice(bool paced, std::string& why) {
  auto device = std::make_unique<PseudoTerminalDevice>(paced);
  if (device->IsRunning()) return device;
  why = "the simulated device found no pseudo-terminal to use";
  return nullptr;
}

}  // namespace kelvo::cli
