#include "transfer/time_lines.h"

#include <cstdio>

namespace kelvo {

std::string TimeLine(std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char text[32];
  std::strftime(text, sizeof text, "Time: %H:%M:%S", &local);
  return text;
}

std::string ElapsedLine(std::time_t seconds) {
  if (seconds < 0) seconds = 0;  // the wall clock was set back during the transfer
  const long long hours = seconds / 3600;
  const int minutes = static_cast<int>(seconds / 60 % 60);
  const int secs = static_cast<int>(seconds % 60);
  char text[48];
  if (hours > 0) {
    std::snprintf(text, sizeof text, "Elapsed: %lld:%02d:%02d", hours, minutes, secs);
  } else {
    std::snprintf(text, sizeof text, "Elapsed: %02d:%02d", minutes, secs);
  }
  return text;
}

}  // namespace kelvo
