#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kelvo {

// A script line keeps only bytes whose value, read as a signed 8-bit number, exceeds 15: TAB,
// CR and LF vanish, and so does every byte from 0x80 up, joining what stands on either side.
bool IsScriptByte(std::uint8_t byte);

// Only blanks (0x20) count here; other white space never survives the byte filter.
std::string_view WithoutLeadingBlanks(std::string_view line);

// These take a line without its leading blanks.
bool IsMessageLine(std::string_view line);
std::string_view MessageText(std::string_view line);  // all leading double quotes removed
bool IsSendLine(std::string_view line);               // "SEND", exact case

// The bytes one SEND line names, in token order. The store holds at most 28 bytes (checksum
// included); named goes on counting beyond that so that an overlong line can be refused whole.
struct SendLineBytes {
  static constexpr std::size_t kCapacity = 28;

  std::array<std::uint8_t, kCapacity> store{};
  std::size_t named = 0;

  bool TooMany() const { return named > kCapacity; }
  std::span<const std::uint8_t> Bytes() const { return {store.data(), std::min(named, kCapacity)}; }
  void Append(std::uint8_t byte);
};

// Drops the keyword (everything before the first blank), then reads the blank-separated
// tokens: a token starting with "XX" in any case appends the byte that makes the line's bytes
// sum to 0 modulo 256 and ends the line; any other token gives the low 8 bits of its HexValue.
SendLineBytes ParseSendLine(std::string_view line);

}  // namespace kelvo
