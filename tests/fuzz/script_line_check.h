#pragma once

// The rules of one script line against a model of their own, for script_line_test.cpp's random
// lines and for the script_line_fuzz target.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image/hex_value.h"
#include "transfer/script_line.h"

namespace kelvo::testing {

// strtol itself, with its long narrowed to the 32 bits that script tokens saturate at.
inline std::int32_t StrtolWith32BitLong(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 16);
  return static_cast<std::int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

// What breaks the rules for these bytes as a script line, "" when nothing does: the parser keeps
// to its store of 28 bytes; on the line the byte filter leaves (no NUL, so strtol sees all of
// it) HexValue reads as strtol does, and a SEND line yields the bytes it names, worked out
// another way: split with a stream, each token read with strtol.
inline std::string ScriptLineFault(const std::string& raw) {
  std::string line;
  std::copy_if(raw.begin(), raw.end(), std::back_inserter(line),
               [](char c) { return IsScriptByte(static_cast<std::uint8_t>(c)); });
  const std::string_view text = WithoutLeadingBlanks(line);
  for (const std::string_view input : {std::string_view(raw), text}) {
    const SendLineBytes parsed = ParseSendLine(input);
    if (parsed.Bytes().size() != std::min(parsed.named, SendLineBytes::kCapacity)) return "store";
  }
  if (HexValue(line) != StrtolWith32BitLong(line)) return "HexValue";
  if (!IsSendLine(text)) return "";

  std::istringstream words{std::string(text)};
  std::string word;
  words >> word;  // the keyword
  std::vector<std::uint8_t> named;
  std::uint8_t sum = 0;
  while (words >> word) {
    if (word.size() >= 2 && std::toupper(word[0]) == 'X' && std::toupper(word[1]) == 'X') {
      named.push_back(static_cast<std::uint8_t>(0x100 - sum));
      break;
    }
    named.push_back(static_cast<std::uint8_t>(StrtolWith32BitLong(word)));
    sum = static_cast<std::uint8_t>(sum + named.back());
  }
  const SendLineBytes parsed = ParseSendLine(text);
  const bool as_named = parsed.named == named.size() &&
                        std::equal(parsed.Bytes().begin(), parsed.Bytes().end(), named.begin());
  return as_named ? "" : "SEND bytes";
}

}  // namespace kelvo::testing
