#include "UpdateServer/Sha256.h"

#include <openssl/evp.h>

#include <array>
#include <stdexcept>

namespace tolvane::tools {

void Sha256::ContextDeleter::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available from OpenSSL");
  }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(const void* data, std::size_t length) {
  if (!context_ || EVP_DigestUpdate(context_.get(), data, length) != 1) {
    throw std::logic_error("SHA-256 update after finish");
  }
}

std::string Sha256::finishHex() {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (!context_ || EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1) {
    throw std::logic_error("SHA-256 finished twice");
  }
  context_.reset();
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHexDigits[digest[i] >> 4]);
    hex.push_back(kHexDigits[digest[i] & 0x0f]);
  }
  return hex;
}

}  // namespace tolvane::tools
