// libFuzzer target for the script line parser: `make fuzz` builds it with clang and runs it.
#include <cstdint>
#include <cstdlib>

#include "script_line_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  if (!kelvo::testing::ScriptLineFault(line).empty()) std::abort();
  return 0;
}
