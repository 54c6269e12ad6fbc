#pragma once

#include <string>

namespace kelvo::cli {

// A script's last line when no line feed ends it, as the script reader would have taken it, if
// it is one that would play (a message or a SEND line); else "". The reader passes over it.
std::string UnplayedLastLine(const std::string& path);

}  // namespace kelvo::cli
