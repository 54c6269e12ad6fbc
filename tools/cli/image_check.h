#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::cli {

struct ImageCheck {
  bool holds_image = false;
  std::string message;  // one line for the operator
};

// Whether a device's memory holds the image from the first load address on, byte for byte.
// Bytes after the image's end are not looked at: they hold the padding of its last block.
ImageCheck CheckImageInMemory(const std::vector<std::uint8_t>& memory,
                              const std::vector<std::uint8_t>& image);

}  // namespace kelvo::cli
