#pragma once

#include <string>

namespace kelvo::cli {

// Whether two port names reach one device: on Linux, the device files that the names open (a
// link and its target, /dev/serial/by-id/... and USB0), compared by name when either is
// missing; on Windows, the device paths the names open, in any letter case.
bool SamePort(const std::string& a, const std::string& b);

}  // namespace kelvo::cli
