#include <string.h>

#include "same_port.h"
#include "serial/serial_port.h"

namespace kelvo::cli {

bool SamePort(const std::string& a, const std::string& b) {
  return ::_stricmp(DevicePathFor(a).c_str(), DevicePathFor(b).c_str()) == 0;
}

}  // namespace kelvo::cli
