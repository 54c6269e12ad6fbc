#include "transfer/image_source.h"

#include <algorithm>

namespace kelvo {

std::size_t ImageSource::Read(std::span<std::uint8_t> buffer) {
  if (file_ != nullptr) return file_->Read(buffer);
  const std::size_t count = std::min(buffer.size(), image_.size() - read_);
  std::copy_n(image_.begin() + static_cast<std::ptrdiff_t>(read_), count, buffer.begin());
  read_ += count;
  return count;
}

}  // namespace kelvo
