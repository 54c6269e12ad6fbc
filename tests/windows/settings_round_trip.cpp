// settings_round_trip IN OUT [PORT FILE ADDRESS DEVICE DELAY]: loads IN as the window does, then
// saves OUT as Quit does, with any texts given typed in between; built for both systems.

#include <atomic>
#include <cstdio>

#include "settings/settings_file.h"
#include "transfer/form_model.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 8) return 2;
  kelvo::FormModel form;
  std::atomic<std::uint16_t> delay{0};
  kelvo::LoadSettings(form, delay, argv[1]);
  if (argc == 8) {
    const kelvo::Control fields[] = {
        kelvo::Control::PortCombo, kelvo::Control::FileEdit, kelvo::Control::StartAddressCombo,
        kelvo::Control::DeviceTypeCombo, kelvo::Control::ResponseDelayEdit};
    for (int i = 0; i < 5; ++i) form.SetText(fields[i], argv[3 + i]);
  }
  const std::string why = kelvo::SaveSettings(form, delay, argv[2]);
  if (!why.empty()) std::fprintf(stderr, "settings_round_trip: %s\n", why.c_str());
  return why.empty() ? 0 : 1;
}
