#include "transfer/script_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// strtol itself, with its long narrowed to the 32 bits that script tokens saturate at: the
// tokens of SEND lines are read as strtol reads them.
std::int32_t StrtolWith32BitLong(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 16);
  return static_cast<std::int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

// The bytes a SEND line names, worked out another way: split with a stream, read with strtol.
Bytes NamedBytes(const std::string& line) {
  std::istringstream words(line);
  std::string word;
  words >> word;  // the keyword
  Bytes bytes;
  std::uint8_t sum = 0;
  while (words >> word) {
    if (word.size() >= 2 && std::toupper(word[0]) == 'X' && std::toupper(word[1]) == 'X') {
      bytes.push_back(static_cast<std::uint8_t>(0x100 - sum));
      break;
    }
    bytes.push_back(static_cast<std::uint8_t>(StrtolWith32BitLong(word)));
    sum = static_cast<std::uint8_t>(sum + bytes.back());
  }
  return bytes;
}

// Lines made of pieces that matter to the parser and of stray bytes; half of them hold no
// checksum token, so that many run past the store's 28 bytes.
std::string RandomLine(std::mt19937& random) {
  static const std::string pieces[] = {"SEND", "send", "0x", "-",         "+",  "1f",
                                       "FF",   "7",    "Zz", "123456789", "0X", "\"",
                                       "\t",   "\r",   "\n", "  ",        "XX", "xX"};
  const std::size_t usable = random() % 2 == 0 ? std::size(pieces) : std::size(pieces) - 2;
  std::string line = random() % 2 == 0 ? "SEND " : "";
  for (int parts = random() % 90; parts > 0; --parts) {
    line += random() % 6 == 0 ? std::string(1, static_cast<char>(random() % 256))
                              : pieces[random() % usable];
    if (random() % 2 == 0) line += ' ';
  }
  return line;
}

// Any bytes in: the parser never stores past its 28 bytes (the sanitizer build checks every
// index), and what a filtered SEND line yields matches the bytes it names.
TEST(ScriptLineFuzz, RandomLinesNeverOverflowTheStoreAndParseAsNamed) {
  std::mt19937 random(7);
  int overlong = 0;
  for (int i = 0; i < 30000; ++i) {
    const std::string raw = RandomLine(random);
    const SendLineBytes unfiltered = ParseSendLine(raw);
    ASSERT_EQ(unfiltered.Bytes().size(), std::min(unfiltered.named, SendLineBytes::kCapacity));

    std::string line;
    std::copy_if(raw.begin(), raw.end(), std::back_inserter(line),
                 [](char c) { return IsScriptByte(static_cast<std::uint8_t>(c)); });
    const std::string_view text = WithoutLeadingBlanks(line);
    if (!IsSendLine(text)) continue;
    const SendLineBytes parsed = ParseSendLine(text);
    const Bytes named = NamedBytes(std::string(text));
    ASSERT_EQ(parsed.named, named.size()) << line;
    ASSERT_TRUE(std::equal(parsed.Bytes().begin(), parsed.Bytes().end(), named.begin())) << line;
    overlong += parsed.TooMany();
  }
  EXPECT_GT(overlong, 1000);  // the store's edge was reached often
}

}  // namespace
}  // namespace kelvo
