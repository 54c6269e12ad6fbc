#pragma once

#include <cstdio>
#include <string>

namespace kelvo {

// A short text formatted as printf does; GCC 12, the Windows build's compiler, has no <format>.
template <typename... Args>
std::string Printf(const char* format, Args... args) {
  char text[160];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

}  // namespace kelvo
