#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Platform/ThrowableError.h"

namespace tolvane {

// Why a release's minisign signature, or a release key, was refused. The localized
// description is one sentence in the user's language: what was refused, then why, naming the
// key by its id as minisign prints it (upper-case hex) when one is known; the
// debug description is the same in English. Immutable; thrown by value.
class ReleaseSignatureError final : public platform::ThrowableError<ReleaseSignatureError> {
 public:
  enum class Reason {
    malformedKey,        // a configured or given public key is not a minisign public key
    oversizedSignature,  // the signature file is larger than the limit
    malformedSignature,  // its lines or their base64 are not a minisign signature
    unknownAlgorithm,    // neither "Ed" (legacy) nor "ED" (prehashed)
    unknownKey,          // made with a key that is not a release key
    badSignature,        // the file is not what the key signed
    badGlobalSignature,  // the trusted comment is not what the key signed
    missingTimestamp,    // the signed trusted comment has no timestamp:<seconds>
    olderRelease,        // signed before the release that is installed
  };
  // A text in both languages; the description picks one when it is read.
  struct Text {
    std::string english;
    std::string russian;
  };

  static ReleaseSignatureError malformedKey(std::string_view keyText, Text why);
  static ReleaseSignatureError oversizedSignature(std::size_t limit);
  static ReleaseSignatureError malformedSignature(Text what);
  static ReleaseSignatureError unknownAlgorithm(std::string_view algorithm);
  static ReleaseSignatureError unknownKey(const std::string& keyId);
  static ReleaseSignatureError badSignature(const std::string& keyId);
  static ReleaseSignatureError badGlobalSignature(const std::string& keyId);
  static ReleaseSignatureError missingTimestamp(const std::string& keyId);
  static ReleaseSignatureError olderRelease(const std::string& keyId, std::int64_t signedAt,
                                            std::int64_t installedAt);

  [[nodiscard]] Reason reason() const { return reason_; }
  // The key's id, empty when the refusal names no key.
  [[nodiscard]] const std::string& keyId() const { return keyId_; }

  [[nodiscard]] std::string localizedDescription() const override;
  [[nodiscard]] std::string debugDescription() const override;

 private:
  ReleaseSignatureError(Reason reason, Text detail, std::string keyId);
  [[nodiscard]] std::string description(bool russian) const;

  Reason reason_;
  Text detail_;
  std::string keyId_;
};

}  // namespace tolvane
