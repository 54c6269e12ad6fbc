#include <sys/stat.h>

#include "same_port.h"
#include "serial/serial_port.h"

namespace kelvo::cli {

bool SamePort(const std::string& a, const std::string& b) {
  const std::string path_a = DevicePathFor(a);
  const std::string path_b = DevicePathFor(b);
  struct stat device_a {
  }, device_b{};
  if (::stat(path_a.c_str(), &device_a) == 0 && ::stat(path_b.c_str(), &device_b) == 0 &&
      S_ISCHR(device_a.st_mode) && S_ISCHR(device_b.st_mode)) {
    return device_a.st_rdev == device_b.st_rdev;
  }
  return path_a == path_b;
}

}  // namespace kelvo::cli
