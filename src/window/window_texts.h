#pragma once

#include <string>
#include <utility>

#include "settings/settings_file.h"

// What both windows say to the operator beyond the form table, in one place.
namespace kelvo::window_texts {

inline constexpr char kCaption[] = "Kelvo";

// Quit saves the form; a save that fails would otherwise go unseen, as the window then closes.
inline std::string NotSaved(const std::string& why) {
  return std::string(kSettingsFileName) + " was not saved: " + why + ".";
}

// The close box during a transfer: the device would be left half-loaded.
inline constexpr char kCloseWhileRunning[] =
    "A transfer is running. Closing the window ends it and may leave the device half-loaded.\n\n"
    "Close anyway?";

// Help when the file is missing or no program here opens RTF; the path says where to look.
inline std::string HelpNotOpened(const std::string& path) {
  return "The help could not be opened: " + path +
         "\n\nNo program here opens RTF files, or the file is missing.";
}

// Browse's filters, each a name and its patterns (parted by semicolons, as Windows shows them),
// and the extension a name typed without one gets.
inline constexpr std::pair<const char*, const char*> kBrowseFilters[] = {
    {"BIN Files", "*.bin"},
    {"Scripts", "*.scr"},
    {"HEX Files", "*.hex"},
    {"S-Record Files", "*.srec;*.s19;*.s28;*.s37"}};
inline constexpr char kBrowseExtension[] = "bin";

}  // namespace kelvo::window_texts
