#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_records.h"
#include "image/input_file.h"

namespace kelvo {

enum class ImageFormat { kRaw, kIntelHex, kSRecords };

// By the name's extension in any letter case: the names that Intel HEX and S-record files go
// by (.hex, .ihx, .srec, .s19, .mot, ...); anything else is a raw image.
ImageFormat ImageFormatOf(const std::string& path);

// Far more than the largest image takes in either format, yet a bound on the memory a stray
// file can claim.
inline constexpr std::uint64_t kLargestImageFile = std::uint64_t{64} << 20;

// The open file's bytes as they are now, an upload's snapshot: later changes to the file (a
// build writing a new image meanwhile) change nothing that is sent. Reads at most one byte
// past kLargestImageFile. Returns why it could not be had ("fw.bin is empty"), or "".
std::string ReadWholeFile(InputFile& file, const std::string& path,
                          std::vector<std::uint8_t>& bytes);

// The image an upload sends from a file's bytes: as they are, or decoded from its records. A
// raw image whose first line is a record is refused: record text must not go out as bytes.
ImageResult DecodeImage(std::vector<std::uint8_t> bytes, ImageFormat format);

// Both, for the file at path; bytes_read, when given, gets the file's bytes as they were read
// (none if they could not be).
ImageResult ReadImageFile(const std::string& path, std::vector<std::uint8_t>* bytes_read = nullptr);

}  // namespace kelvo
