#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvo {

// Replaces the file at path with bytes, all or nothing: the bytes go to a temporary file beside
// it, which then takes the file's name in one step, so a write that fails or is cut off leaves
// the file as it was. An existing file that the caller may not write is kept as it is. Returns
// whether the file now holds the bytes.
bool ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace kelvo
