#include "image/image_builder.h"

#include "image/printf_text.h"
#include "serial/protocol.h"

namespace kelvo {
namespace {

constexpr std::uint64_t kImageEndByte = kImageStartByte + kLargestImage;

}  // namespace

std::string ImageBuilder::Put(std::uint64_t address, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return "";
  const auto last = static_cast<unsigned long long>(address + bytes.size() - 1);
  if (address < kImageStartByte) {
    return Printf("data at 0x%llX is below 0x%llX, where the image starts",
                  static_cast<unsigned long long>(address),
                  static_cast<unsigned long long>(kImageStartByte));
  }
  if (last >= kImageEndByte) {
    return Printf("data up to 0x%llX runs past 0x%llX, the end of the %llu bytes the device takes",
                  last, static_cast<unsigned long long>(kImageEndByte - 1),
                  static_cast<unsigned long long>(kLargestImage));
  }
  const auto start = static_cast<std::size_t>(address - kImageStartByte);
  if (start + bytes.size() > image_.size()) {
    image_.resize(start + bytes.size(), 0xFF);
    written_.resize(image_.size());
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::size_t at = start + i;
    if (written_[at] && image_[at] != bytes[i]) {
      return Printf("byte 0x%llX was written before as %02X, this record has %02X",
                    static_cast<unsigned long long>(kImageStartByte + at), image_[at], bytes[i]);
    }
    image_[at] = bytes[i];
    written_[at] = true;
  }
  return "";
}

}  // namespace kelvo
