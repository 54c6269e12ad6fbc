// libFuzzer target for scripts: the input is a whole script file, read line by line through
// ReadScriptLine from a real file (in memory, so that fuzzing writes nothing to disk). Each line is
// also held against a model of the line parser: it keeps to its store of 28 bytes; on the line the
// byte filter leaves (no NUL, so strtol sees all of it) HexValue reads as strtol does, and a SEND
// line yields the bytes it names, worked out another way: split with a stream, each token read
// with strtol.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "image/hex_value.h"
#include "image/input_file.h"
#include "transfer/run_script.h"
#include "transfer/script_line.h"

namespace {

using namespace kelvo;

// strtol itself, with its long narrowed to the 32 bits that script tokens saturate at.
std::int32_t StrtolWith32BitLong(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 16);
  return static_cast<std::int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

// The line as the script's rules make it (the bytes that pass the filter), checked against the
// model of the parser on its way.
std::string CheckedLine(const std::uint8_t* begin, const std::uint8_t* end) {
  std::string line;
  for (const std::uint8_t* p = begin; p != end; ++p)
    if (IsScriptByte(*p)) line.push_back(static_cast<char>(*p));
  const std::string_view text = WithoutLeadingBlanks(line);
  for (const std::string_view input :
       {std::string_view(reinterpret_cast<const char*>(begin), end - begin), text}) {
    const SendLineBytes parsed = ParseSendLine(input);
    Require(parsed.Bytes().size() == std::min(parsed.named, SendLineBytes::kCapacity));
  }
  Require(HexValue(line) == StrtolWith32BitLong(line));
  if (!IsSendLine(text)) return line;

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
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int memory = ::memfd_create("script", MFD_CLOEXEC);
  Require(memory >= 0);
  Require(::write(memory, data, size) == static_cast<ssize_t>(size));
  InputFile file = InputFile::Open("/proc/self/fd/" + std::to_string(memory));
  ::close(memory);
  Require(file.IsOpen() && file.Size() == size);

  std::string line = "left from before";
  const std::uint8_t* start = data;
  const std::uint8_t* const end = data + size;
  for (const std::uint8_t* p = data; p != end; ++p) {
    if (*p != '\n') continue;
    Require(ReadScriptLine(file, line));
    Require(line == CheckedLine(start, p));
    start = p + 1;
  }
  // The bytes after the last line feed are read but make no line.
  Require(!ReadScriptLine(file, line));
  Require(line == CheckedLine(start, end));
  Require(!ReadScriptLine(file, line) && line.empty());
  Require(!file.Failed());

  file.Close();
  line = "left from before";
  Require(!ReadScriptLine(file, line) && line.empty());
  return 0;
}
