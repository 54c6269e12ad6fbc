#include "transfer/run_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "simulator/pseudo_terminal.h"
#include "support/fast_ticker.h"
#include "support/temp_folder.h"
#include "transfer/hex_value.h"
#include "transfer/memory_form.h"
#include "transfer/script_line.h"
#include "transfer/transfer_frame.h"

namespace kelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// strtol itself, with its long narrowed to the 32 bits that script tokens saturate at.
std::int32_t StrtolWith32BitLong(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 16);
  return static_cast<std::int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

TEST(HexValue, ReadsLikeStrtolInBase16WithA32BitLong) {
  const std::vector<std::string> named = {
      "0x1F",      "1f",       "+1F",      "1FF",       "-1",        "100",        "ZZ",
      "123456789", "7FFFFFFF", "80000000", "-80000000", "-80000001", "-123456789", "0x",
      "0xZ",       "-0x10",    "+",        "",          "1G2",       " \t1a",      "0X1f"};
  for (const std::string& text : named)
    EXPECT_EQ(HexValue(text), StrtolWith32BitLong(text)) << '"' << text << '"';
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
  static const std::string pieces[] = {"SEND",      "send", "0x", "-",  "+",  "1f", "FF", "7", "Zz",
                                       "123456789", "\"",   "\t", "\r", "\n", "  ", "XX", "xX"};
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

// Each write to the port. Each burst but the first comes after the pauses of those before.
struct BurstTap : PortTap {
  explicit BurstTap(Clock& timing) : clock(timing) {}
  void OnBytes(Direction direction, std::span<const std::uint8_t> bytes) override {
    if (direction != Direction::kSent) return;
    EXPECT_EQ(clock.TickCount(), 100 * bursts.size());
    bursts.emplace_back(bytes.begin(), bytes.end());
    if (bursts.size() == 1 && after_first) after_first();
  }
  Clock& clock;
  std::vector<Bytes> bursts;
  std::function<void()> after_first;  // runs once the first burst is out, before its pause
};

// Each line's bytes go out in one burst, and a pause follows each line that sends and nothing
// else. Halt, or the loss of the line, as the first burst goes out.
TEST(RunScript, WritesWhatEachLineNamesInOneBurstAndLogsIt) {
  enum Then { kNothing, kHalt, kLoseLine };
  struct Case {
    std::string script;
    std::vector<Bytes> bursts;
    std::string log;
    Then then = kNothing;
  };
  std::string send28 = "SEND", send29 = "SEND";
  for (int i = 0; i < 28; ++i) send28 += " 02", send29 += " 01";
  send29 += " XX";
  const Case cases[] = {
      {"  SEND 0a 0b xx\n", {{0x0A, 0x0B, 0xEB}}, "Sending Data SEND 0a 0b xx\r\n"},
      {"SEND\t01 02\n", {{0x02}}, "Sending Data SEND01 02\r\n"},
      {"SENDX 01\n", {{0x01}}, "Sending Data SENDX 01\r\n"},
      {"SEND 01\rSEND 02\n", {{0x01, 0x02}}, "Sending Data SEND 01SEND 02\r\n"},
      {"SEND 1\200F\377 2\n", {{0x1F, 0x02}}, "Sending Data SEND 1F 2\r\n"},
      {send28 + "\n", {Bytes(28, 0x02)}, "Sending Data " + send28 + "\r\n"},
      {send29 + "\n", {}, "Too many bytes (29, at most 28) in " + send29 + "\r\n"},
      {"SEND\nSEND   \n", {}, "No data found in SEND\r\nNo data found in SEND   \r\n"},
      {"\"Hi\"\n\"\n  \"\"  quotes \n\"SEND 01\n", {}, "Hi\"\r\n\r\n  quotes \r\nSEND 01\r\n"},
      {"\n   \nhello\nsend 01\n Send 01\n", {}, ""},
      {"", {}, ""},
      // A last line without its line end is not played.
      {"SEND 01\nSEND 02 03\nSEND 04",
       {{0x01}, {0x02, 0x03}},
       "Sending Data SEND 01\r\nSending Data SEND 02 03\r\n"},
      // Halt ends playback after the current line and its pause.
      {"SEND 01\nSEND 02\n\"after\n", {{0x01}}, "Sending Data SEND 01\r\n", kHalt},
      // Each later write logs its error, and playback goes on with its pauses.
      {"SEND 01\nSEND 02\nSEND 03\n",
       {{0x01}},
       "Sending Data SEND 01\r\nSending Data SEND 02\r\nError!\r\n"
       "Sending Data SEND 03\r\nError!\r\n",
       kLoseLine},
  };
  const testing::TempFolder folder("kelvo-script");
  const std::string path = (folder.Path() / "setup.scr").string();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    std::ofstream(path, std::ios::binary) << c.script;
    PseudoTerminal device;
    MemoryForm form;
    SharedState shared;
    form.SetText(Control::FileEdit, path);
    form.SetText(Control::PortCombo, device.SlavePath());
    BurstTap tap(shared.clock);
    tap.after_first = [&] {
      if (c.then == kHalt) shared.HaltRequested.store(1);
      if (c.then == kLoseLine) device.Close();
    };
    testing::FastTicker ticker(shared.clock);
    EXPECT_EQ(RunTransfer(TransferKind::kRunScript, form, shared, {.tap = &tap}).outcome,
              c.then == kHalt ? TransferOutcome::kHalted : TransferOutcome::kComplete);
    EXPECT_EQ(tap.bursts, c.bursts);
    // The lines between the frame's file line and its "Closing Port".
    const std::string log = form.Log();
    const std::size_t start = log.find("\r\n", log.find("Opening File ")) + 2;
    EXPECT_EQ(log.substr(start, log.rfind("Closing Port\r\n") - start), c.log);
    std::size_t sending = 0;  // lines that send, each followed by its pause
    for (std::size_t at = 0; (at = c.log.find("Sending Data", at)) != std::string::npos; ++at)
      ++sending;
    EXPECT_EQ(shared.clock.TickCount(), 100 * sending);
  }
}

}  // namespace
}  // namespace kelvo
