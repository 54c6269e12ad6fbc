// libFuzzer target for the Intel HEX and S-record readers: each input goes to both as it is and
// with every record's checksum set right, so that random records get past the checksum and on
// to the addresses. A read image is checked against a model of its own made from the records.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "image/image_records.h"
#include "image/printf_text.h"
#include "serial/protocol.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Each line as the readers take it: after a byte-order mark, without its line end, trailing
// blanks, and Ctrl-Z or NUL padding at either end.
std::vector<std::string> Lines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string padding("\0\x1A", 2);
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) {
    line.erase(0, std::min(line.size(), line.find_first_not_of(padding)));
    lines.push_back(line.erase(line.find_last_not_of(" \t\r" + padding) + 1));
  }
  return lines;
}

// The bytes of a record's hex digits, from skip on; none when they are not whole hex bytes.
Bytes HexBytes(const std::string& line, std::size_t skip) {
  if (line.size() < skip || (line.size() - skip) % 2 != 0 ||
      !std::all_of(line.begin() + skip, line.end(),
                   [](unsigned char c) { return std::isxdigit(c); }))
    return {};
  Bytes bytes;
  for (std::size_t i = skip; i < line.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string WithChecksums(std::string_view text, bool intel) {
  std::string fixed;
  for (std::string line : Lines(text)) {
    const Bytes bytes = HexBytes(line, intel ? 1 : 2);
    if (!bytes.empty()) {
      unsigned sum = 0;
      for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
      line.replace(line.size() - 2, 2,
                   kelvo::Printf("%02X", (intel ? 0x100 - sum % 0x100 : ~sum) & 0xFF));
    }
    fixed += line + "\n";
  }
  return fixed;
}

// Device byte address to byte, for every data byte of a file the reader took.
std::map<std::uint64_t, std::uint8_t> DataOf(std::string_view text, bool intel) {
  std::map<std::uint64_t, std::uint8_t> data;
  std::uint64_t base = 0;
  bool segmented = false;
  for (const std::string& line : Lines(text)) {
    if (line.empty()) continue;
    const Bytes bytes = HexBytes(line, intel ? 1 : 2);
    if (intel) {
      const unsigned type = bytes.at(3), offset = bytes[1] << 8 | bytes[2];
      if (type == 2 || type == 4) {
        base = static_cast<std::uint64_t>(bytes[4] << 8 | bytes[5]) << (type == 2 ? 4 : 16);
        segmented = type == 2;
      }
      for (std::size_t i = 0; type == 0 && i < bytes[0]; ++i)
        data[base + (segmented ? (offset + i) & 0xFFFF : offset + i)] = bytes[4 + i];
    } else if (line[1] >= '1' && line[1] <= '3') {
      const std::size_t length = static_cast<std::size_t>(line[1] - '0') + 1;
      std::uint64_t address = 0;
      for (std::size_t i = 1; i <= length; ++i) address = address << 8 | bytes.at(i);
      for (std::size_t i = length + 1; i + 1 < bytes.size(); ++i) data[address++] = bytes[i];
    }
  }
  return data;
}

void Check(std::string_view text, bool intel) {
  const kelvo::ImageResult read = intel ? kelvo::ReadIntelHex(text) : kelvo::ReadSRecords(text);
  if (!read.Ok()) {
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    Require(read.image.empty() && read.line >= 1 && read.line <= lines);
    return;
  }
  const auto data = DataOf(text, intel);
  Require(!data.empty() && data.begin()->first >= kelvo::kImageStartByte);
  Bytes model(data.rbegin()->first - kelvo::kImageStartByte + 1, 0xFF);
  Require(model.size() <= kelvo::kLargestImage);
  for (const auto& [address, byte] : data) model[address - kelvo::kImageStartByte] = byte;
  Require(read.image == model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const bool intel : {true, false}) {
    Check(text, intel);
    Check(WithChecksums(text, intel), intel);
  }
  return 0;
}
