#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// An image as the upload sends it, or why it could not be had.
struct ImageResult {
  std::vector<std::uint8_t> image;  // from byte kImageStartByte of device memory on
  std::size_t line = 0;             // of the error, from 1; 0 when it concerns the whole file
  std::string error;                // empty when the image was read

  bool Ok() const { return error.empty(); }
};

// The records' addresses are byte addresses in device memory; bytes no record writes are 0xFF.
ImageResult ReadIntelHex(std::string_view text);
ImageResult ReadSRecords(std::string_view text);

// True for one whole record line of the format, checksum and all (its line end left off).
bool IsIntelHexRecord(std::string_view line);
bool IsSRecord(std::string_view line);

}  // namespace kelvo
