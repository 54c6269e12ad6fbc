#include "settings/settings_record.h"

#include <algorithm>
#include <optional>

namespace kelvo {
namespace {

constexpr char kZarqx[] = "ZARQX";
constexpr std::size_t kPortFieldSize = 4;

// A text too long for its length byte is stored empty: cut short, a path would name another
// file.
void AppendText(std::vector<std::uint8_t>& record, const std::string& text) {
  const std::size_t length = text.size() <= 255 ? text.size() : 0;
  record.push_back(static_cast<std::uint8_t>(length));
  record.insert(record.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

// Hands out the record's bytes in order; every take fails once the record has run out.
class RecordReader {
 public:
  explicit RecordReader(std::span<const std::uint8_t> record) : record_(record) {}

  std::optional<std::span<const std::uint8_t>> Take(std::size_t count) {
    if (record_.size() - used_ < count) return std::nullopt;
    const auto bytes = record_.subspan(used_, count);
    used_ += count;
    return bytes;
  }

  // A length byte and as many text bytes.
  std::optional<std::string> TakeText() {
    const auto length = Take(1);
    if (!length) return std::nullopt;
    const auto text = Take((*length)[0]);
    if (!text) return std::nullopt;
    return std::string(text->begin(), text->end());
  }

 private:
  std::span<const std::uint8_t> record_;
  std::size_t used_ = 0;
};

}  // namespace

std::vector<std::uint8_t> EncodeSettings(const Settings& settings) {
  std::vector<std::uint8_t> record;
  record.reserve(kLongestSettingsRecord);
  if (settings.port.size() <= kPortFieldSize) {
    record.assign(settings.port.begin(), settings.port.end());
  }
  record.resize(kPortFieldSize, 0);
  AppendText(record, settings.file_path);
  AppendText(record, settings.start_address);
  record.push_back(settings.device_type == kZarqx ? 1 : 0);
  record.push_back(static_cast<std::uint8_t>(settings.response_delay & 0xFF));
  record.push_back(static_cast<std::uint8_t>(settings.response_delay >> 8));
  return record;
}

DecodedSettings DecodeSettings(std::span<const std::uint8_t> record) {
  DecodedSettings decoded;
  Settings& settings = decoded.settings;
  RecordReader reader(record);
  const auto port = reader.Take(kPortFieldSize);
  if (!port) return decoded;
  settings.port.clear();
  for (const std::uint8_t byte : *port) {
    if (byte == 0) break;
    settings.port.push_back(static_cast<char>(byte));
  }
  const auto file_path = reader.TakeText();
  if (!file_path) return decoded;
  settings.file_path = *file_path;
  const auto start_address = reader.TakeText();
  if (!start_address) return decoded;
  settings.start_address = *start_address;
  const auto flag = reader.Take(1);
  if (!flag) return decoded;
  if ((*flag)[0] != 0) settings.device_type = kZarqx;
  for (int byte = 0; byte < 2; ++byte) {
    const auto delay = reader.Take(1);
    if (!delay) break;
    settings.response_delay |= static_cast<std::uint16_t>((*delay)[0] << (8 * byte));
    decoded.response_delay_bytes = byte + 1;
  }
  return decoded;
}

}  // namespace kelvo
