#include "image/utf8_sequence.h"

namespace kelvo {

std::size_t Utf8SequenceLength(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (byte(0) < 0x80) return 1;
  // The second byte's range is narrower after the leads whose next byte would make an overlong
  // form (E0, F0), a surrogate (ED) or a value past U+10FFFF (F4).
  std::size_t length = 0;
  unsigned second_low = 0x80, second_high = 0xBF;
  if (byte(0) >= 0xC2 && byte(0) <= 0xDF) {
    length = 2;
  } else if (byte(0) >= 0xE0 && byte(0) <= 0xEF) {
    length = 3;
    if (byte(0) == 0xE0) second_low = 0xA0;
    if (byte(0) == 0xED) second_high = 0x9F;
  } else if (byte(0) >= 0xF0 && byte(0) <= 0xF4) {
    length = 4;
    if (byte(0) == 0xF0) second_low = 0x90;
    if (byte(0) == 0xF4) second_high = 0x8F;
  }
  if (length == 0 || bytes.size() < length || byte(1) < second_low || byte(1) > second_high)
    return 0;
  for (std::size_t i = 2; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  return length;
}

}  // namespace kelvo
