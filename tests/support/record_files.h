#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "image/printf_text.h"

namespace kelvo::testing {

using Bytes = std::vector<std::uint8_t>;

// The record's start, then its bytes in hex.
inline std::string Record(std::string text, const Bytes& bytes) {
  for (const std::uint8_t byte : bytes) text += Printf("%02X", byte);
  return text;
}

// One record with its byte count and checksum, as a firmware build writes it, without a line end.
inline std::string HexRecord(unsigned type, unsigned offset, const Bytes& data) {
  Bytes bytes = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
                 static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(type)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(static_cast<std::uint8_t>(-std::accumulate(bytes.begin(), bytes.end(), 0u)));
  return Record(":", bytes);
}

inline std::string SRecord(char type, std::uint32_t address, const Bytes& data) {
  const std::size_t address_length = type == '2' || type == '6' || type == '8' ? 3
                                     : type == '3' || type == '7'              ? 4
                                                                               : 2;
  Bytes bytes = {static_cast<std::uint8_t>(address_length + data.size() + 1)};
  for (std::size_t i = address_length; i-- > 0;)
    bytes.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(static_cast<std::uint8_t>(~std::accumulate(bytes.begin(), bytes.end(), 0u)));
  return Record({'S', type}, bytes);
}

// An image that loads at byte 0x20000 as a whole file: S3 records of 16 bytes, leaving out those
// of nothing but 0xFF, a count and S7; lines end in CR LF.
inline std::string SRecordsOf(const Bytes& image) {
  constexpr std::size_t kRecordData = 16;
  std::string text = SRecord('0', 0, {'k', 'e', 'l', 'v', 'o'}) + "\r\n";
  std::uint32_t records = 0;
  for (std::size_t at = 0; at < image.size(); at += kRecordData) {
    const auto from = image.begin() + static_cast<std::ptrdiff_t>(at);
    const Bytes data(from,
                     from + static_cast<std::ptrdiff_t>(std::min(kRecordData, image.size() - at)));
    if (std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0xFF; })) continue;
    text += SRecord('3', static_cast<std::uint32_t>(0x20000 + at), data) + "\r\n";
    ++records;
  }
  return text + SRecord('5', records, {}) + "\r\n" + SRecord('7', 0x20000, {}) + "\r\n";
}

}  // namespace kelvo::testing
