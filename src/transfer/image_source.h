#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "transfer/input_file.h"

namespace kelvo {

// Where the upload reads its image from: the open file as it stands (a raw image streams from
// it), or an image decoded from a file of records beforehand.
class ImageSource {
 public:
  // The image is the file's bytes from its current position, as many as it holds now.
  explicit ImageSource(InputFile& file) : file_(&file), size_(file.Size()) {}
  explicit ImageSource(std::vector<std::uint8_t> image)
      : image_(std::move(image)), size_(image_.size()) {}

  std::uint64_t Size() const { return size_; }
  // Reads on until buffer is full or the image ends; returns the count read, as InputFile does.
  std::size_t Read(std::span<std::uint8_t> buffer);
  bool Failed() const { return file_ != nullptr && file_->Failed(); }

 private:
  InputFile* file_ = nullptr;
  std::vector<std::uint8_t> image_;
  std::uint64_t size_;
  std::size_t read_ = 0;  // bytes of image_ read so far
};

}  // namespace kelvo
