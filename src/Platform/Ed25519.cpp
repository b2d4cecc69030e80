#include "Platform/Ed25519.h"

#include <openssl/evp.h>

#include <memory>

namespace tolvane::platform {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

bool Ed25519::isValidSignature(const Signature& signature, std::string_view message,
                               const PublicKey& key) {
  const std::unique_ptr<EVP_PKEY, KeyDeleter> publicKey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
  const std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
  if (!publicKey || !context ||
      EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1) {
    return false;
  }
  // Pure Ed25519 cannot be fed in pieces: the one-shot call takes the whole message.
  return EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

}  // namespace tolvane::platform
