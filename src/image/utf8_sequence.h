#pragma once

#include <cstddef>
#include <string_view>

namespace kelvo {

// The length of the valid UTF-8 sequence that bytes begins with, or 0 when it begins with none:
// a stray continuation byte, a sequence cut short, an overlong form, a surrogate, or a value past
// U+10FFFF. Texts from outside (paths, port names) may be in a code page instead, so each user
// decides what to do with a byte that begins none.
std::size_t Utf8SequenceLength(std::string_view bytes);

}  // namespace kelvo
