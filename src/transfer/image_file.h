#pragma once

#include <cstdint>
#include <string>

#include "transfer/image_records.h"
#include "transfer/input_file.h"

namespace kelvo {

enum class ImageFormat { kRaw, kIntelHex, kSRecords };

// By the name's extension in any letter case: .hex is Intel HEX; .srec, .s19, .s28 and .s37 are
// S-records; anything else is a raw image.
ImageFormat ImageFormatOf(const std::string& path);

// Far more than the largest image takes in either format, yet a bound on the memory a stray
// file can claim.
inline constexpr std::uint64_t kLargestImageFile = std::uint64_t{64} << 20;

// The whole image an upload of the open file sends: its bytes as they are, or decoded from its
// records.
ImageResult ReadImageFile(InputFile& file, ImageFormat format);
// The same for the file at path, opened and closed again.
ImageResult ReadImageFile(const std::string& path);

}  // namespace kelvo
