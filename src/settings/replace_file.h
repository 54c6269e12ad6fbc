#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvo {

// Replaces the contents of the file at path with bytes, following a link to the file it names.
// Where the folder allows, all or nothing: the bytes go to a temporary file beside it, which
// then takes the file's name in one step and keeps its mode, so a write that fails or is cut
// off leaves the file as it was. Where no file can be made in the folder (a shared folder this
// user may only read), or on Windows where the file cannot be replaced for a second (another
// program has it open), the file is rewritten in place, its old bytes put back if the new ones
// cannot all be written. An existing file that the caller may not write is kept as it is.
// Returns an empty text when the file holds the bytes, else why it does not.
std::string ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace kelvo
