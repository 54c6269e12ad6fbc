#pragma once

#include <ctime>
#include <string>

namespace kelvo {

// "Time: %H:%M:%S" in local time.
std::string TimeLine(std::time_t when);

// "Elapsed: %M:%S"; from one hour on the hours come first ("Elapsed: 1:02:05") rather than
// being dropped.
std::string ElapsedLine(std::time_t seconds);

}  // namespace kelvo
