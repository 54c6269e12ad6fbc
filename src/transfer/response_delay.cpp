#include "transfer/response_delay.h"

#include <cstdint>
#include <limits>

namespace kelvo {

std::uint16_t ResponseDelayFromText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min<std::int64_t>(magnitude * 10 + (text[i] - '0'), kMax + 1);
  }
  const std::int64_t value = negative ? -magnitude : std::min(magnitude, kMax);
  return static_cast<std::uint16_t>(value & 0xFFFF);
}

}  // namespace kelvo
