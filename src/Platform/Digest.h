#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>

#include "Platform/Data.h"

struct evp_md_ctx_st;

namespace tolvane::platform {

// A cryptographic hash fed in pieces, so files are hashed while they stream, from the
// system's crypto library: SHA-256 names published files, BLAKE2b-512 is what a prehashed
// release signature signs. Not thread-safe; one owner at a time.
class Digest {
 public:
  enum class Algorithm { sha256, blake2b512 };

  explicit Digest(Algorithm algorithm);
  ~Digest();
  Digest(Digest&&) noexcept;
  Digest& operator=(Digest&&) noexcept;

  void update(const void* data, std::size_t length);

  // The digest's bytes. Ends this hash; using it afterwards is a programming error.
  [[nodiscard]] Data finish();

  // The digest of what `fd` reads from its position to its end, read a piece at a time.
  // Throws SystemError naming `path` when a read fails.
  [[nodiscard]] static Data ofFile(Algorithm algorithm, int fd, const std::filesystem::path& path);

 private:
  struct ContextDeleter {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, ContextDeleter> context_;
};

}  // namespace tolvane::platform
