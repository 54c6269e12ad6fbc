#pragma once

#include <cstdint>
#include <string>

namespace kelvo {

// The response delay an operator typed, read the way C's atoi reads a number (leading white
// space, an optional sign, decimal digits up to the first other character; 0 when there are
// none; saturating at the 32-bit limits), keeping the low 16 bits: "70000" gives 4464, "-1"
// gives 65535, "25 ms" gives 25.
std::uint16_t ResponseDelayFromText(const std::string& text);

}  // namespace kelvo
