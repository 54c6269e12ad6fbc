#include "transfer/script_line.h"

#include "image/hex_value.h"

namespace kelvo {

bool IsScriptByte(std::uint8_t byte) {
  return static_cast<std::int8_t>(byte) > 15;
}

std::string_view WithoutLeadingBlanks(std::string_view line) {
  line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
  return line;
}

bool IsMessageLine(std::string_view line) {
  return line.starts_with('"');
}

std::string_view MessageText(std::string_view line) {
  line.remove_prefix(std::min(line.find_first_not_of('"'), line.size()));
  return line;
}

bool IsSendLine(std::string_view line) {
  return line.starts_with("SEND");
}

void SendLineBytes::Append(std::uint8_t byte) {
  if (named < kCapacity) store[named] = byte;
  ++named;
}

SendLineBytes ParseSendLine(std::string_view line) {
  std::string_view rest = WithoutLeadingBlanks(line);
  rest.remove_prefix(std::min(rest.find(' '), rest.size()));
  rest = WithoutLeadingBlanks(rest);
  SendLineBytes result;
  std::uint8_t sum = 0;
  while (!rest.empty()) {
    if (rest.size() >= 2 && (rest[0] == 'X' || rest[0] == 'x') &&
        (rest[1] == 'X' || rest[1] == 'x')) {
      result.Append(static_cast<std::uint8_t>(0x100 - sum));
      break;
    }
    const std::size_t end = std::min(rest.find(' '), rest.size());
    const auto byte = static_cast<std::uint8_t>(HexValue(rest.substr(0, end)));
    result.Append(byte);
    sum = static_cast<std::uint8_t>(sum + byte);
    rest = WithoutLeadingBlanks(rest.substr(end));
  }
  return result;
}

}  // namespace kelvo
