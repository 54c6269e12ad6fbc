#pragma once

#include <string>
#include <string_view>

namespace kelvo {

// Text from outside the program (a script's message, another program's name) made safe for a
// terminal, which would obey its control bytes: each one but tab and line feed shows as ^X, and
// DEL as ^?. Every other byte stays as it is.
std::string ShownText(std::string_view text);

}  // namespace kelvo
