#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace tolvane::tools {

// Incremental SHA-256 over bytes fed in pieces, so files are hashed while they stream.
// Not thread-safe; one owner at a time.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void update(const void* data, std::size_t length);

  // The digest as 64 lower-case hex digits. Ends this hash; further calls are errors.
  [[nodiscard]] std::string finishHex();

 private:
  struct ContextDeleter {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, ContextDeleter> context_;
};

}  // namespace tolvane::tools
