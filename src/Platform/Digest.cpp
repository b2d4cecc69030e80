#include "Platform/Digest.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "Platform/Fatal.h"
#include "Platform/SystemError.h"

namespace tolvane::platform {

void Digest::ContextDeleter::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

Digest::Digest(Algorithm algorithm) : context_(EVP_MD_CTX_new()) {
  const EVP_MD* md = algorithm == Algorithm::sha256 ? EVP_sha256() : EVP_blake2b512();
  TOLVANE_CHECK(context_ && EVP_DigestInit_ex(context_.get(), md, nullptr) == 1,
                "the crypto library does not offer the digest");
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

void Digest::update(const void* data, std::size_t length) {
  TOLVANE_CHECK(context_ && EVP_DigestUpdate(context_.get(), data, length) == 1,
                "Digest::update after finish");
}

Data Digest::finish() {
  Data digest(EVP_MAX_MD_SIZE, '\0');
  unsigned int length = 0;
  TOLVANE_CHECK(
      context_ && EVP_DigestFinal_ex(context_.get(),
                                     reinterpret_cast<unsigned char*>(digest.data()), &length) == 1,
      "Digest::finish called twice");
  context_.reset();
  digest.resize(length);
  return digest;
}

Data Digest::ofFile(Algorithm algorithm, int fd, const std::filesystem::path& path) {
  Digest digest(algorithm);
  std::vector<char> buffer(std::size_t{1} << 16);
  while (true) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw SystemError::fromErrno(SystemError::Operation::read, path);
    if (got == 0) return digest.finish();
    digest.update(buffer.data(), static_cast<std::size_t>(got));
  }
}

}  // namespace tolvane::platform
