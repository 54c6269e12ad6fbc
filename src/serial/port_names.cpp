#include <cctype>

#include "serial/serial_port.h"

namespace kelvo {
namespace {

// The digits after prefix, when the name is exactly prefix followed by digits.
bool NumberAfter(const std::string& name, const std::string& prefix, unsigned long& number) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string digits = name.substr(prefix.size());
  if (digits.size() > 6) return false;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  number = std::stoul(digits);
  return true;
}

}  // namespace

std::string DevicePathFor(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  unsigned long n = 0;
  if (NumberAfter(name, "COM", n) && n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
  if (NumberAfter(name, "USB", n)) return "/dev/ttyUSB" + std::to_string(n);
  if (NumberAfter(name, "ACM", n)) return "/dev/ttyACM" + std::to_string(n);
  return "/dev/" + name;
}

}  // namespace kelvo
