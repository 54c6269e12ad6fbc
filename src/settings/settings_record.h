#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvo {

// The five values of the form that persist from one run to the next: four texts as the form
// shows them and the response delay as ResponseDelay holds it. A default-constructed record
// holds what the form shows when there is no settings file.
struct Settings {
  std::string port = "COM1";
  std::string file_path;
  std::string start_address = "0x2000";
  std::string device_type = "ZARQ 40 - 580";
  std::uint16_t response_delay = 0;

  bool operator==(const Settings&) const = default;
};

// The longest record: the port, both texts at 255 characters, the flag and the delay.
inline constexpr std::size_t kLongestSettingsRecord = 4 + 1 + 255 + 1 + 255 + 1 + 2;

// The packed record: 4 bytes of port name (0-padded), a length byte and the path, a length byte
// and the start address, the device type flag (1 for exactly "ZARQX") and the delay, low byte
// first. A port name longer than 4 characters, or a text longer than 255, is stored empty: cut
// short it would name a different port or file.
std::vector<std::uint8_t> EncodeSettings(const Settings& settings);

struct DecodedSettings {
  Settings settings;
  // How many of the delay's two bytes the record holds; with one, response_delay holds only
  // its low byte.
  int response_delay_bytes = 0;
};

// Reads a record as far as it goes. A field that the bytes do not hold whole takes its default,
// so a short or empty record gives no made-up value; bytes after the record are ignored.
DecodedSettings DecodeSettings(std::span<const std::uint8_t> record);

}  // namespace kelvo
