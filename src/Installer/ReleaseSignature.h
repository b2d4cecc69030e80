#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Installer/ReleaseKeys.h"
#include "Platform/Ed25519.h"

namespace tolvane {

// What a verified signature vouches for.
struct VerifiedRelease {
  std::string keyId;           // as minisign prints it
  std::int64_t timestamp = 0;  // the trusted comment's timestamp:<unix seconds>
  std::string trustedComment;

  // Throws ReleaseSignatureError (olderRelease) when this release was signed before the
  // installed one. The same time passes: it is the same release fetched again.
  void refuseIfOlderThan(std::optional<std::int64_t> installedTimestamp) const;
};

// A minisign signature file (".minisig"), as `minisign -S` writes it:
//   untrusted comment: <text, not signed>
//   base64 of: algorithm "Ed" (legacy: Ed25519 of the file) or "ED" (prehashed: Ed25519 of
//              the file's BLAKE2b-512), the 8-byte key id, the 64-byte signature
//   trusted comment: <text>   (minisign writes "timestamp:<seconds>\tfile:<name>[\thashed]")
//   base64 of: the 64-byte Ed25519 signature of the signature bytes followed by that text
// Lines end in "\n" (a "\r" before it is dropped). Parsing checks the form only; verify()
// checks both signatures against the release keys. Immutable.
class ReleaseSignature {
 public:
  enum class Algorithm { legacy, prehashed };

  // Longer files are refused unread; minisign's own are a few hundred bytes.
  static constexpr std::size_t kMaximumFileSize = 64 * 1024;
  // A release's signature lies next to it under its name followed by this.
  static constexpr std::string_view kFileExtension = ".minisig";

  // Throws ReleaseSignatureError: oversizedSignature, malformedSignature, unknownAlgorithm.
  [[nodiscard]] static ReleaseSignature parse(std::string_view text);
  // Reads and parses a signature file, reading no more than the limit allows. Throws
  // SystemError when it cannot be read.
  [[nodiscard]] static ReleaseSignature read(const std::filesystem::path& file);

  // The file as it was read, to pass on unchanged.
  [[nodiscard]] const std::string& text() const { return text_; }
  [[nodiscard]] Algorithm algorithm() const { return algorithm_; }
  [[nodiscard]] const ReleasePublicKey::KeyId& keyId() const { return keyId_; }
  [[nodiscard]] const std::string& trustedComment() const { return trustedComment_; }
  // The trusted comment's "timestamp:<digits>" field (fields are separated by tabs), when it
  // has one that fits. Vouched for only once verify() has passed.
  [[nodiscard]] std::optional<std::int64_t> timestamp() const;

  // Checks that `file` is what the release key this signature names signed, and that the
  // trusted comment is that key's too, and returns what they vouch for. The file is read
  // once: streamed through BLAKE2b-512 when prehashed, mapped read-only for a legacy
  // signature (which covers the whole file at once). Throws ReleaseSignatureError
  // (unknownKey, badGlobalSignature, badSignature, missingTimestamp, in the order checked)
  // or SystemError when the file cannot be read.
  [[nodiscard]] VerifiedRelease verify(const std::filesystem::path& file,
                                       const ReleaseKeys& keys) const;

 private:
  ReleaseSignature() = default;
  [[nodiscard]] bool signsFile(const std::filesystem::path& file,
                               const platform::Ed25519::PublicKey& key) const;

  std::string text_;
  Algorithm algorithm_ = Algorithm::prehashed;
  ReleasePublicKey::KeyId keyId_{};
  platform::Ed25519::Signature signature_{};
  std::string trustedComment_;
  platform::Ed25519::Signature globalSignature_{};
};

}  // namespace tolvane
