#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace kelvo {

std::string DevicePathFor(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  if (const auto n = NumberAfter(name, "COM"); n && *n >= 1) {
    return "/dev/ttyS" + std::to_string(*n - 1);
  }
  if (const auto n = NumberAfter(name, "USB")) return "/dev/ttyUSB" + std::to_string(*n);
  if (const auto n = NumberAfter(name, "ACM")) return "/dev/ttyACM" + std::to_string(*n);
  return "/dev/" + name;
}

}  // namespace kelvo
