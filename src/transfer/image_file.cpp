#include "transfer/image_file.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "transfer/file_extension.h"
#include "transfer/printf_text.h"

namespace kelvo {

ImageFormat ImageFormatOf(const std::string& path) {
  const std::string extension = LowerCaseExtension(path);
  if (extension == ".hex") return ImageFormat::kIntelHex;
  for (const char* srec : {".srec", ".s19", ".s28", ".s37"})
    if (extension == srec) return ImageFormat::kSRecords;
  return ImageFormat::kRaw;
}

ImageResult ReadImageFile(InputFile& file, ImageFormat format) {
  ImageResult read;
  const std::uint64_t size = file.Size();
  // What the file holds now, as a raw image streams it: bytes added meanwhile are not read.
  std::vector<std::uint8_t> bytes(size > kLargestImageFile ? 0 : static_cast<std::size_t>(size));
  bytes.resize(file.Read(bytes));
  if (file.Failed()) {
    read.error = "the file could not be read";
  } else if (size > kLargestImageFile) {
    read.error = Printf("the file is larger than %llu MiB",
                        static_cast<unsigned long long>(kLargestImageFile >> 20));
  } else if (format == ImageFormat::kRaw) {
    read.image = std::move(bytes);
  } else {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    read = format == ImageFormat::kIntelHex ? ReadIntelHex(text) : ReadSRecords(text);
  }
  return read;
}

ImageResult ReadImageFile(const std::string& path) {
  InputFile file = InputFile::Open(path);
  if (!file.IsOpen()) return {.image = {}, .line = 0, .error = "the file could not be opened"};
  return ReadImageFile(file, ImageFormatOf(path));
}

}  // namespace kelvo
