#include "image_check.h"

#include <algorithm>
#include <cstdio>

#include "serial/protocol.h"

namespace kelvo::cli {

ImageCheck CheckImageInMemory(const std::vector<std::uint8_t>& memory,
                              const std::vector<std::uint8_t>& image) {
  constexpr std::size_t kBytesPerAddressUnit = kBlockSize / kAddressUnitsPerBlock;
  constexpr std::size_t kOffset = kFirstLoadAddress * kBytesPerAddressUnit;
  char text[160];
  if (memory.size() < kOffset || image.size() > memory.size() - kOffset) {
    std::snprintf(text, sizeof text,
                  "Simulated device: the image (%zu bytes) does not fit its memory above 0x%zX",
                  image.size(), kOffset);
    return {false, text};
  }
  const auto start = memory.begin() + static_cast<std::ptrdiff_t>(kOffset);
  const auto [in_image, in_memory] = std::mismatch(image.begin(), image.end(), start);
  if (in_image == image.end()) {
    std::snprintf(text, sizeof text,
                  "Simulated device: memory at 0x%zX holds the image byte for byte (%zu bytes)",
                  kOffset, image.size());
    return {true, text};
  }
  const std::size_t at = static_cast<std::size_t>(in_image - image.begin());
  std::snprintf(text, sizeof text,
                "Simulated device: memory differs from the image at image byte 0x%zX "
                "(address 0x%zX): image %02X, memory %02X",
                at, kOffset + at, *in_image, *in_memory);
  return {false, text};
}

}  // namespace kelvo::cli
