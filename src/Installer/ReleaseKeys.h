#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Ed25519.h"

namespace tolvane {

// A minisign public key: the id that signatures made with it name, and its Ed25519 key.
struct ReleasePublicKey {
  using KeyId = std::array<unsigned char, 8>;

  KeyId id{};
  platform::Ed25519::PublicKey key{};

  // The key in its text form: the base64 line "RW..." (of "Ed", the id and the key), or the
  // whole text of a minisign.pub file (an "untrusted comment:" line, then that line).
  // White space around it is ignored. Throws ReleaseSignatureError (malformedKey).
  [[nodiscard]] static ReleasePublicKey parse(std::string_view text);

  // An id as minisign prints it: the eight bytes read as a little-endian number, in
  // upper-case hex without leading zeros ("4DA08F55080777D").
  [[nodiscard]] static std::string idText(const KeyId& id);
  [[nodiscard]] std::string idText() const { return idText(id); }
};

// The keys a release may be signed with. Immutable; safe to share between threads.
class ReleaseKeys {
 public:
  ReleaseKeys() = default;
  explicit ReleaseKeys(std::vector<ReleasePublicKey> keys) : keys_(std::move(keys)) {}

  // Key texts separated by ";" or white space; no text, no keys. One malformed key refuses
  // the whole list (ReleaseSignatureError, malformedKey, naming it): dropping it would
  // quietly check against fewer keys than the builder meant, or none at all.
  [[nodiscard]] static ReleaseKeys parse(std::string_view list);
  // The configured keys: the build's, or the environment's (Configuration).
  [[nodiscard]] static ReleaseKeys configured();

  [[nodiscard]] bool empty() const { return keys_.empty(); }
  [[nodiscard]] const std::vector<ReleasePublicKey>& keys() const { return keys_; }
  // The first key with this id, or null.
  [[nodiscard]] const ReleasePublicKey* find(const ReleasePublicKey::KeyId& id) const;

 private:
  std::vector<ReleasePublicKey> keys_;
};

}  // namespace tolvane
