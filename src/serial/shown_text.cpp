#include "serial/shown_text.h"

namespace kelvo {

std::string ShownText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 0x20 && byte != 0x7F) || c == '\t' || c == '\n') {
      shown += c;
    } else {
      shown += '^';
      shown += static_cast<char>(byte ^ 0x40);
    }
  }
  return shown;
}

}  // namespace kelvo
