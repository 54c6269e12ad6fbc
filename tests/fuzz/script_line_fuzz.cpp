// libFuzzer target for the script line parser, against a model of its own: the parser keeps to
// its store of 28 bytes; on the line the byte filter leaves (no NUL, so strtol sees all of it)
// HexValue reads as strtol does, and a SEND line yields the bytes it names, worked out another
// way: split with a stream, each token read with strtol.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "image/hex_value.h"
#include "transfer/script_line.h"

namespace {

using namespace kelvo;

// strtol itself, with its long narrowed to the 32 bits that script tokens saturate at.
std::int32_t StrtolWith32BitLong(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 16);
  return static_cast<std::int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  std::string line;
  std::copy_if(raw.begin(), raw.end(), std::back_inserter(line),
               [](char c) { return IsScriptByte(static_cast<std::uint8_t>(c)); });
  const std::string_view text = WithoutLeadingBlanks(line);
  for (const std::string_view input : {std::string_view(raw), text}) {
    const SendLineBytes parsed = ParseSendLine(input);
    Require(parsed.Bytes().size() == std::min(parsed.named, SendLineBytes::kCapacity));
  }
  Require(HexValue(line) == StrtolWith32BitLong(line));
  if (!IsSendLine(text)) return 0;

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
  Require(parsed.named == named.size() &&
          std::equal(parsed.Bytes().begin(), parsed.Bytes().end(), named.begin()));
  return 0;
}
