#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "transfer/control_pointers.h"

namespace kelvo {

// Named without a directory, so it lives in the current working directory.
inline constexpr char kSettingsFileName[] = "KELVO.DAT";

// Sets the texts of PortCombo, FileEdit, StartAddressCombo, DeviceTypeCombo and ResponseDelayEdit
// from the file (or the defaults when it cannot be opened) and, from the file, ResponseDelay.
// Texts that a short file lacks take their defaults; ResponseDelay takes as many of its bytes,
// low byte first, as the file holds. Reports nothing.
void LoadSettings(ControlPointers& form, std::atomic<std::uint16_t>& ResponseDelay,
                  const std::string& path = kSettingsFileName);

// Reads the same five texts and writes the file; sets ResponseDelay from ResponseDelayEdit. A
// save that cannot complete changes neither the file nor ResponseDelay, and returns why; an
// empty text when the file is saved.
std::string SaveSettings(ControlPointers& form, std::atomic<std::uint16_t>& ResponseDelay,
                         const std::string& path = kSettingsFileName);

}  // namespace kelvo
