#pragma once

#include <cstdint>
#include <string_view>

namespace kelvo {

// The value of one hexadecimal digit in either letter case; -1 for any other character.
int HexDigit(char c);

// Reads text the way strtol reads it in base 16 with a 32-bit long: leading white space, an
// optional sign, an optional "0x" or "0X", then hexadecimal digits up to the first other
// character. No digits give 0; values beyond the signed 32-bit range saturate to its ends.
std::int32_t HexValue(std::string_view text);

}  // namespace kelvo
