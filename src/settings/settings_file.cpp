#include "settings/settings_file.h"

#include <array>
#include <span>

#include "image/input_file.h"
#include "settings/replace_file.h"
#include "settings/settings_record.h"
#include "transfer/response_delay.h"

namespace kelvo {

void LoadSettings(ControlPointers& form, std::atomic<std::uint16_t>& ResponseDelay,
                  const std::string& path) {
  // Opened for reading only, so a settings file that may not be written still loads. A file
  // that cannot be opened reads as an empty one: every value its default.
  std::array<std::uint8_t, kLongestSettingsRecord> record{};
  std::size_t length = 0;
  InputFile file = InputFile::Open(path);
  if (file.IsOpen()) length = file.Read(record);
  const DecodedSettings decoded = DecodeSettings(std::span(record).first(length));

  const Settings& settings = decoded.settings;
  if (decoded.response_delay_bytes == 2) ResponseDelay.store(settings.response_delay);
  if (decoded.response_delay_bytes == 1) {
    ResponseDelay.store((ResponseDelay.load() & 0xFF00) | settings.response_delay);
  }
  form.SetText(Control::PortCombo, settings.port);
  form.SetText(Control::FileEdit, settings.file_path);
  form.SetText(Control::StartAddressCombo, settings.start_address);
  form.SetText(Control::DeviceTypeCombo, settings.device_type);
  // A file too short to hold the whole delay leaves ResponseDelay partly or wholly as it was,
  // and the field shows that.
  const std::uint16_t shown = file.IsOpen() ? ResponseDelay.load() : settings.response_delay;
  form.SetText(Control::ResponseDelayEdit, std::to_string(shown));
}

std::string SaveSettings(ControlPointers& form, std::atomic<std::uint16_t>& ResponseDelay,
                         const std::string& path) {
  Settings settings;
  settings.port = form.ReadText(Control::PortCombo);
  settings.file_path = form.ReadText(Control::FileEdit);
  settings.start_address = form.ReadText(Control::StartAddressCombo);
  settings.device_type = form.ReadText(Control::DeviceTypeCombo);
  settings.response_delay = ResponseDelayFromText(form.ReadText(Control::ResponseDelayEdit));
  const std::string why = ReplaceFileContents(path, EncodeSettings(settings));
  if (why.empty()) ResponseDelay.store(settings.response_delay);
  return why;
}

}  // namespace kelvo
