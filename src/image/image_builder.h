#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kelvo {

// Gathers the data of records into the image that loads at kImageStartByte.
class ImageBuilder {
 public:
  // Places bytes at a byte address of device memory; returns why they do not fit, or "".
  // Bytes written again must be the same.
  std::string Put(std::uint64_t address, std::span<const std::uint8_t> bytes);
  bool Empty() const { return image_.empty(); }
  // The image up to the highest byte written, with 0xFF in the gaps.
  std::vector<std::uint8_t> Take() { return std::move(image_); }

 private:
  std::vector<std::uint8_t> image_;
  std::vector<bool> written_;
};

}  // namespace kelvo
