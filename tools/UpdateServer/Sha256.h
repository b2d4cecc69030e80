#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Platform/Digest.h"

namespace tolvane::tools {

// Incremental SHA-256 over bytes fed in pieces, so files are hashed while they stream, in
// the lower-case hex the manifest carries. Not thread-safe; one owner at a time.
class Sha256 {
 public:
  Sha256() : digest_(platform::Digest::Algorithm::sha256) {}

  void update(const void* data, std::size_t length) { digest_.update(data, length); }

  // The digest as 64 lower-case hex digits. Ends this hash; further calls are errors.
  [[nodiscard]] std::string finishHex() { return hex(digest_.finish()); }

  // A digest's bytes as lower-case hex digits.
  [[nodiscard]] static std::string hex(std::string_view digest);

 private:
  platform::Digest digest_;
};

}  // namespace tolvane::tools
