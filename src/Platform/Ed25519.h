#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace tolvane::platform {

// Checks Ed25519 signatures (pure Ed25519 of RFC 8032: the signature covers the whole
// message) with the system's crypto library. Stateless; safe from any thread.
class Ed25519 {
 public:
  static constexpr std::size_t kPublicKeyLength = 32;
  static constexpr std::size_t kSignatureLength = 64;
  using PublicKey = std::array<unsigned char, kPublicKeyLength>;
  using Signature = std::array<unsigned char, kSignatureLength>;

  // True when `signature` is `key`'s signature of `message`. A key that is not a point of
  // the curve verifies nothing.
  [[nodiscard]] static bool isValidSignature(const Signature& signature, std::string_view message,
                                             const PublicKey& key);
};

}  // namespace tolvane::platform
