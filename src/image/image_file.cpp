#include "image/image_file.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "image/file_extension.h"
#include "image/printf_text.h"

namespace kelvo {
namespace {

constexpr std::array<const char*, 4> kIntelHexNames = {".hex", ".ihx", ".ihex", ".mhx"};
constexpr std::array<const char*, 11> kSRecordNames = {
    ".srec", ".s19", ".s28", ".s37", ".mot", ".s", ".sx", ".s1", ".s2", ".s3", ".exo"};

template <std::size_t n>
bool Named(const std::string& extension, const std::array<const char*, n>& names) {
  return std::find(names.begin(), names.end(), extension) != names.end();
}

// ".hex, .ihx, .ihex or .mhx"
template <std::size_t n>
std::string Listed(const std::array<const char*, n>& names) {
  std::string list = names[0];
  for (std::size_t i = 1; i < n; ++i) list += (i + 1 == n ? " or " : ", ") + std::string(names[i]);
  return list;
}

std::string_view Text(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The file's first line as a record reader sees it.
std::string_view FirstLine(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  text = text.substr(0, text.find('\n'));
  return text.substr(0, text.find_last_not_of(" \t\r") + 1);
}

}  // namespace

ImageFormat ImageFormatOf(const std::string& path) {
  const std::string extension = LowerCaseExtension(path);
  if (Named(extension, kIntelHexNames)) return ImageFormat::kIntelHex;
  if (Named(extension, kSRecordNames)) return ImageFormat::kSRecords;
  return ImageFormat::kRaw;
}

std::string ReadWholeFile(InputFile& file, const std::string& path,
                          std::vector<std::uint8_t>& bytes) {
  bytes.resize(static_cast<std::size_t>(std::min(file.Size(), kLargestImageFile + 1)));
  bytes.resize(file.Read(bytes));
  if (file.Failed()) return path + " could not be read";
  if (bytes.empty()) return path + " is empty";
  return "";
}

ImageResult DecodeImage(std::vector<std::uint8_t> bytes, ImageFormat format) {
  ImageResult read;
  const std::string_view text = Text(bytes);
  if (bytes.size() > kLargestImageFile) {
    read.error = Printf("the file is larger than %llu MiB",
                        static_cast<unsigned long long>(kLargestImageFile >> 20));
  } else if (format == ImageFormat::kIntelHex) {
    read = ReadIntelHex(text);
  } else if (format == ImageFormat::kSRecords) {
    read = ReadSRecords(text);
  } else if (IsIntelHexRecord(FirstLine(text))) {
    read.error =
        "the file holds Intel HEX records, which load from a file named " + Listed(kIntelHexNames);
  } else if (IsSRecord(FirstLine(text))) {
    read.error = "the file holds S-records, which load from a file named " + Listed(kSRecordNames);
  } else {
    read.image = std::move(bytes);
  }
  return read;
}

ImageResult ReadImageFile(const std::string& path, std::vector<std::uint8_t>* bytes_read) {
  InputFile file = InputFile::Open(path);
  if (!file.IsOpen())
    return {.image = {}, .line = 0, .error = FileFailureCause(file.Error(), path)};
  std::vector<std::uint8_t> bytes;
  if (std::string cause = ReadWholeFile(file, path, bytes); !cause.empty()) {
    return {.image = {}, .line = 0, .error = cause};
  }
  if (bytes_read) *bytes_read = bytes;
  return DecodeImage(std::move(bytes), ImageFormatOf(path));
}

}  // namespace kelvo
