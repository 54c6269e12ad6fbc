#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <array>

#include "image/printf_text.h"
#include "sha256.h"

namespace kelvo::cli {

// The image files read are bounded far below what a ULONG counts (kLargestImageFile).
std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(
          ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return "";
  }
  std::array<std::uint8_t, 32> digest{};
  BCRYPT_HASH_HANDLE hash = nullptr;
  const bool done =
      BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
      BCRYPT_SUCCESS(::BCryptHashData(hash, const_cast<PUCHAR>(bytes.data()),
                                      static_cast<ULONG>(bytes.size()), 0)) &&
      BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest.data(), digest.size(), 0));
  if (hash != nullptr) ::BCryptDestroyHash(hash);
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done) return "";
  std::string hex;
  for (const std::uint8_t byte : digest) hex += Printf("%02x", byte);
  return hex;
}

}  // namespace kelvo::cli
