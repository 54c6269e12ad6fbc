#include "port_list.h"

#include <algorithm>
#include <tuple>

namespace kelvo::cli {
namespace {

// ttyS2 before ttyS10, COM2 before COM10.
auto NaturalKey(const std::string& name) {
  const std::size_t digits = name.find_first_of("0123456789");
  const std::string stem = name.substr(0, digits);
  const std::string number = digits == std::string::npos ? "" : name.substr(digits);
  return std::make_tuple(stem, number.size(), number);
}

}  // namespace

void SortNaturally(std::vector<SerialPortEntry>& ports) {
  std::sort(ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
    return NaturalKey(a.device_path) < NaturalKey(b.device_path);
  });
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
