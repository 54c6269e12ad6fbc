#include "port_list_posix.h"

#include <fstream>
#include <vector>

#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace kelvo::cli {
namespace fs = std::filesystem;

const char kPortExamples[] = "COM1, USB0 or /dev/ttyUSB0";
const char kPortNamesText[] =
    "Port names: COMn is /dev/ttyS(n-1), USBn /dev/ttyUSBn, ACMn /dev/ttyACMn, a name\n"
    "holding '/' is a path, any other name is looked up in /dev/. See --list-ports.\n"
    "A port that another program has open is refused, and the log says which program.";

namespace {

// The first line of a sysfs attribute, or empty when it is missing.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n')) line.pop_back();
  return line;
}

// The name an operator types for /dev/<device>: COMn for ttyS(n-1) and so on. Each candidate is
// checked against what opening a port does with a name, so the two always agree.
std::string ShortNameFor(const std::string& device) {
  const std::string path = "/dev/" + device;
  std::vector<std::string> candidates;
  if (const auto n = NumberAfter(device, "ttyS"))
    candidates.push_back("COM" + std::to_string(*n + 1));
  if (device.starts_with("ttyUSB")) candidates.push_back("USB" + device.substr(6));
  if (device.starts_with("ttyACM")) candidates.push_back("ACM" + device.substr(6));
  candidates.push_back(device);
  for (const std::string& name : candidates) {
    if (DevicePathFor(name) == path) return name;
  }
  return path;
}

// The USB device above a tty's device node, described by what it says of itself.
std::string UsbDescription(const fs::path& device_link) {
  std::error_code error;
  fs::path dir = fs::canonical(device_link, error);
  if (error) return "";
  for (int level = 0; level < 4 && dir.has_relative_path(); ++level, dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor")) continue;
    std::string text = Attribute(dir / "manufacturer");
    const std::string product = Attribute(dir / "product");
    if (!product.empty()) text += (text.empty() ? "" : " ") + product;
    text += (text.empty() ? "(" : " (") + Attribute(dir / "idVendor") + ":" +
            Attribute(dir / "idProduct");
    const std::string serial = Attribute(dir / "serial");
    if (!serial.empty()) text += ", serial " + serial;
    return text + ")";
  }
  return "";
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPortsIn(const fs::path& class_dir) {
  std::vector<SerialPortEntry> ports;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(class_dir, error)) {
    const std::string device = entry.path().filename().string();
    // Consoles and pseudo-terminals have no device behind them.
    if (!fs::exists(entry.path() / "device")) continue;
    // The 8250 driver lists a ttyS for every legacy slot; type 0 means no UART answered there.
    if (Attribute(entry.path() / "type") == "0") continue;
    ports.push_back(
        {ShortNameFor(device), "/dev/" + device, UsbDescription(entry.path() / "device")});
  }
  SortNaturally(ports);
  return ports;
}

std::vector<SerialPortEntry> ListSerialPorts() {
  return ListSerialPortsIn("/sys/class/tty");
}

}  // namespace kelvo::cli
