// libFuzzer target for the script line parser: `make fuzz` builds it with clang and runs it.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>

#include "transfer/hex_value.h"
#include "transfer/script_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);

  std::string line;
  std::copy_if(raw.begin(), raw.end(), std::back_inserter(line),
               [](char c) { return kelvo::IsScriptByte(static_cast<std::uint8_t>(c)); });
  const std::string_view text = kelvo::WithoutLeadingBlanks(line);
  for (const std::string_view input : {std::string_view(raw), text}) {
    const kelvo::SendLineBytes parsed = kelvo::ParseSendLine(input);
    if (parsed.Bytes().size() > kelvo::SendLineBytes::kCapacity) std::abort();
  }

  // Filtered text holds no NUL, so strtol sees all of it.
  const long expected =
      std::clamp<long>(std::strtol(line.c_str(), nullptr, 16), INT32_MIN, INT32_MAX);
  if (kelvo::HexValue(line) != expected) std::abort();
  return 0;
}
