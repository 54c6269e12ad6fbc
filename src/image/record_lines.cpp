#include "image/record_lines.h"

#include <algorithm>
#include <utility>

#include "image/hex_value.h"
#include "image/printf_text.h"

namespace kelvo {
namespace {

// DOS-era tools end a file with Ctrl-Z, and some pad it out with NULs to a whole sector.
constexpr std::string_view kPadding("\0\x1A", 2);

std::string_view WithoutPadding(std::string_view line) {
  line.remove_prefix(std::min(line.size(), line.find_first_not_of(kPadding)));
  const std::size_t end = line.find_last_not_of(std::string(" \t\r") + std::string(kPadding));
  return end == std::string_view::npos ? std::string_view() : line.substr(0, end + 1);
}

}  // namespace

std::string Shown(char c) {
  return c > ' ' && c < 0x7F ? Printf("'%c'", c)
                             : Printf("byte 0x%02X", static_cast<unsigned char>(c));
}

std::string HexBytes(std::string_view digits, std::size_t column,
                     std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (HexDigit(digits[i]) < 0)
      return Shown(digits[i]) + Printf(" at column %zu is not a hex digit", column + i);
  }
  if (digits.size() % 2 != 0) return "the record has an odd number of hex digits";
  for (std::size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(HexDigit(digits[i]) << 4 | HexDigit(digits[i + 1])));
  return "";
}

ImageResult ReadRecords(std::string_view text, const RecordFormat& format) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a UTF-8 editor's mark
  ImageBuilder image;
  ImageResult read;
  std::size_t end_line = 0;
  std::size_t last_line = 1;  // of the last record, or 1 in a file of none
  std::size_t number = 0;
  const auto fail = [&](std::size_t line, std::string error) {
    read.line = line;
    read.error = std::move(error);
    return read;
  };
  for (std::size_t start = 0; start <= text.size();) {
    ++number;
    const std::size_t stop = std::min(text.find('\n', start), text.size());
    const std::string_view line = WithoutPadding(text.substr(start, stop - start));
    start = stop + 1;
    if (line.empty()) continue;
    if (end_line != 0)
      return fail(number, Printf("a record after the %s on line %zu", format.end_name, end_line));
    if (line[0] != format.mark) {
      return fail(number, "the line starts with " + Shown(line[0]) +
                              ", where a record starts with " + Shown(format.mark));
    }
    last_line = number;
    bool end = false;
    if (std::string error = format.take(line, image, end); !error.empty())
      return fail(number, std::move(error));
    if (end) end_line = number;
  }
  if (image.Empty()) return fail(last_line, "the file holds no data");
  if (end_line == 0)
    return fail(last_line, Printf("the file ends without its %s", format.end_name));
  read.image = image.Take();
  return read;
}

}  // namespace kelvo
