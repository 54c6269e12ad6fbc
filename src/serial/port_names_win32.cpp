#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace kelvo {

namespace {
constexpr char kDevicePrefix[] = "\\\\.\\";
}

// Windows finds only COM1 to COM9 by their plain names; the device prefix reaches every port.
std::string DevicePathFor(const std::string& name) {
  if (name.rfind(kDevicePrefix, 0) == 0) return name;
  if (NumberAfter(name, "COM")) return kDevicePrefix + name;
  return name;
}

}  // namespace kelvo
