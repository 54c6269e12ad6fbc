#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kelvo::cli {

// The SHA-256 of bytes in 64 lowercase hex digits, as sha256sum prints it: nettle's on Linux,
// the system's (BCrypt) on Windows. Empty if the system cannot compute it.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace kelvo::cli
