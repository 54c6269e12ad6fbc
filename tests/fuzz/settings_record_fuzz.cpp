// libFuzzer target for the settings record decoder: any bytes at all may sit in KELVO.DAT.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_require.h"
#include "settings/settings_record.h"

using kelvo::DecodeSettings, kelvo::Settings;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> record(data, size);
  const kelvo::DecodedSettings decoded = DecodeSettings(record);
  const Settings& got = decoded.settings;
  const Settings defaults;

  Require(got.port.size() <= 4 && got.port.find('\0') == std::string::npos);
  Require(got.file_path.size() <= 255 && got.start_address.size() <= 255);
  Require(got.device_type == "ZARQX" || got.device_type == defaults.device_type);
  Require(decoded.response_delay_bytes >= 0 && decoded.response_delay_bytes <= 2);
  if (decoded.response_delay_bytes < 2) Require(got.response_delay <= 0xFF);

  // What the decoder gives back, the encoder stores and the decoder reads again unchanged.
  const std::vector<std::uint8_t> stored = kelvo::EncodeSettings(got);
  Require(DecodeSettings(stored).settings == got);
  const std::size_t length = 9 + got.file_path.size() + got.start_address.size();
  if (decoded.response_delay_bytes == 2) {
    Require(stored.size() == length);
    // As the encoder writes it (the port padded with zeros only, the flag 0 or 1), it is the same.
    const auto port_end = std::find(data, data + 4, 0);
    if (std::all_of(port_end, data + 4, [](std::uint8_t b) { return b == 0; }) &&
        data[length - 3] <= 1)
      Require(std::equal(stored.begin(), stored.end(), data));
  }

  // A file cut short gives each value from the file or from the defaults, never a mix.
  for (std::size_t cut = 0; cut < std::min(size, length); ++cut) {
    const Settings part = DecodeSettings(record.first(cut)).settings;
    Require(part.port == got.port || part.port == defaults.port);
    Require(part.file_path == got.file_path || part.file_path == defaults.file_path);
    Require(part.start_address == got.start_address ||
            part.start_address == defaults.start_address);
    Require(part.device_type == got.device_type || part.device_type == defaults.device_type);
  }
  return 0;
}
