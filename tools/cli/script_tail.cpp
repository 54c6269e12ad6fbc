#include "script_tail.h"

#include <fstream>
#include <iterator>

#include "transfer/script_line.h"

namespace kelvo::cli {

std::string UnplayedLastLine(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  std::string line;
  // Without a line feed (rfind gives npos) the whole file is the last line.
  for (std::size_t i = bytes.rfind('\n') + 1; i < bytes.size(); ++i) {
    if (IsScriptByte(static_cast<std::uint8_t>(bytes[i]))) line += bytes[i];
  }
  const std::string_view text = WithoutLeadingBlanks(line);
  return IsMessageLine(text) || IsSendLine(text) ? std::string(text) : "";
}

}  // namespace kelvo::cli
