#include "image/hex_value.h"

#include <algorithm>
#include <limits>

namespace kelvo {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::int32_t HexValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // A prefix without digits after it reads as the single digit 0, which gives the same value.
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
    magnitude = std::min<std::int64_t>(magnitude * 16 + HexDigit(text[i]), kMax + 1);
  }
  return static_cast<std::int32_t>(negative ? -magnitude : std::min(magnitude, kMax));
}

}  // namespace kelvo
