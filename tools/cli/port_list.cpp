#include "port_list.h"

#include <algorithm>
#include <fstream>
#include <tuple>
#include <vector>

#include "serial/serial_port.h"

namespace kelvo::cli {
namespace fs = std::filesystem;
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
  const auto number_after = [&](std::size_t prefix) {
    const std::string digits = device.substr(prefix);
    return !digits.empty() && digits.size() < 7 &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  std::vector<std::string> candidates;
  if (device.starts_with("ttyS") && number_after(4)) {
    candidates.push_back("COM" + std::to_string(std::stoul(device.substr(4)) + 1));
  }
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

// ttyS2 before ttyS10.
auto NaturalKey(const std::string& name) {
  const std::size_t digits = name.find_first_of("0123456789");
  const std::string stem = name.substr(0, digits);
  const std::string number = digits == std::string::npos ? "" : name.substr(digits);
  return std::make_tuple(stem, number.size(), number);
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts(const fs::path& class_dir) {
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
  std::sort(ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
    return NaturalKey(a.device_path) < NaturalKey(b.device_path);
  });
  return ports;
}

std::string FormatPortList(const std::vector<SerialPortEntry>& ports) {
  if (ports.empty()) return "No serial ports found.\n";
  std::size_t name_width = 0;
  std::size_t path_width = 0;
  for (const SerialPortEntry& port : ports) {
    name_width = std::max(name_width, port.name.size());
    path_width = std::max(path_width, port.device_path.size());
  }
  std::string text;
  for (const SerialPortEntry& port : ports) {
    std::string line =
        port.name + std::string(name_width - port.name.size() + 2, ' ') + port.device_path;
    if (!port.description.empty()) {
      line += std::string(path_width - port.device_path.size() + 2, ' ') + port.description;
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace kelvo::cli
