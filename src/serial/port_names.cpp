#include "serial/port_names.h"

#include <algorithm>
#include <cctype>

namespace kelvo {

std::optional<unsigned long> NumberAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return {};
  const std::string digits = name.substr(prefix.size());
  const bool all_digits = std::all_of(digits.begin(), digits.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
  if (digits.size() > 6 || !all_digits) return {};
  return std::stoul(digits);
}

}  // namespace kelvo
