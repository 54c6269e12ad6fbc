#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_builder.h"
#include "image/image_records.h"

namespace kelvo {

// How one format reads its records: each starts with mark, and the format's end record
// (named end_name in errors) must close the file.
struct RecordFormat {
  char mark;
  const char* end_name;
  // Takes one record line, whole, into the image; sets end at the end record. Returns why the
  // record is refused, or "".
  std::function<std::string(std::string_view record, ImageBuilder& image, bool& end)> take;
};

// Walks the lines (LF or CR LF; blank lines, trailing blanks, a byte-order mark and Ctrl-Z or
// NUL padding are passed over) to the end record, and stops at the first error with its line.
ImageResult ReadRecords(std::string_view text, const RecordFormat& format);

// The bytes that hex digits stand for, two digits a byte; column (from 1) is where digits starts
// in its line, for the error. Returns why they are not hex bytes, or "".
std::string HexBytes(std::string_view digits, std::size_t column, std::vector<std::uint8_t>& bytes);

// The byte as an error shows it: 'G', or byte 0x0D where it would not print.
std::string Shown(char c);

}  // namespace kelvo
