// libFuzzer target for the script reader: the input is a whole script file, read line by line
// through ReadScriptLine from a real file (in memory, so that fuzzing writes nothing to disk).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_require.h"
#include "image/input_file.h"
#include "transfer/run_script.h"
#include "transfer/script_line.h"

namespace {

// The line as the script's rules make it: the bytes up to the line feed that pass the filter.
std::string Filtered(const std::uint8_t* begin, const std::uint8_t* end) {
  std::string line;
  for (const std::uint8_t* p = begin; p != end; ++p)
    if (kelvo::IsScriptByte(*p)) line.push_back(static_cast<char>(*p));
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int memory = ::memfd_create("script", MFD_CLOEXEC);
  Require(memory >= 0);
  Require(::write(memory, data, size) == static_cast<ssize_t>(size));
  kelvo::InputFile file = kelvo::InputFile::Open("/proc/self/fd/" + std::to_string(memory));
  ::close(memory);
  Require(file.IsOpen() && file.Size() == size);

  std::string line = "left from before";
  const std::uint8_t* start = data;
  const std::uint8_t* const end = data + size;
  for (const std::uint8_t* p = data; p != end; ++p) {
    if (*p != '\n') continue;
    Require(kelvo::ReadScriptLine(file, line));
    Require(line == Filtered(start, p));
    start = p + 1;
  }
  // The bytes after the last line feed are read but make no line.
  Require(!kelvo::ReadScriptLine(file, line));
  Require(line == Filtered(start, end));
  Require(!kelvo::ReadScriptLine(file, line) && line.empty());
  Require(!file.Failed());

  file.Close();
  line = "left from before";
  Require(!kelvo::ReadScriptLine(file, line) && line.empty());
  return 0;
}
