#include <nettle/sha2.h>

#include <array>

#include "image/printf_text.h"
#include "sha256.h"

namespace kelvo::cli {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, bytes.size(), bytes.data());
  std::array<std::uint8_t, SHA256_DIGEST_SIZE> digest{};
  sha256_digest(&context, digest.size(), digest.data());
  std::string hex;
  for (const std::uint8_t byte : digest) hex += Printf("%02x", byte);
  return hex;
}

}  // namespace kelvo::cli
