#include "transfer/script_line.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fuzz/script_line_check.h"

namespace kelvo {
namespace {

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
// index), and the line the filter leaves reads as its model does.
TEST(ScriptLineFuzz, RandomLinesNeverOverflowTheStoreAndParseAsNamed) {
  std::mt19937 random(7);
  int overlong = 0;
  for (int i = 0; i < 30000; ++i) {
    const std::string line = RandomLine(random);
    ASSERT_EQ(testing::ScriptLineFault(line), "") << line;
    overlong += ParseSendLine(line).TooMany();
  }
  EXPECT_GT(overlong, 1000);  // the store's edge was reached often
}

}  // namespace
}  // namespace kelvo
