#include "Installer/ReleaseSignature.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <vector>

#include "Installer/ReleaseSignatureError.h"
#include "Platform/Base64.h"
#include "Platform/Digest.h"
#include "Platform/FileDescriptor.h"
#include "Platform/MappedFile.h"
#include "Platform/SystemError.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using platform::Ed25519;

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kTimestampField = "timestamp:";
constexpr std::string_view kLegacy = "Ed";
constexpr std::string_view kPrehashed = "ED";

// Lines without their "\n" (or "\r\n"); a final "\n" does not start another line.
std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> result;
  while (!text.empty()) {
    const auto newline = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    result.push_back(line);
    text.remove_prefix(std::min(newline + 1, text.size()));
  }
  return result;
}

template <std::size_t N>
void copyBytes(std::string_view from, std::array<unsigned char, N>& to) {
  std::copy_n(reinterpret_cast<const unsigned char*>(from.data()), N, to.begin());
}

}  // namespace

void VerifiedRelease::refuseIfOlderThan(std::optional<std::int64_t> installedTimestamp) const {
  if (installedTimestamp && timestamp < *installedTimestamp) {
    throw ReleaseSignatureError::olderRelease(keyId, timestamp, *installedTimestamp);
  }
}

ReleaseSignature ReleaseSignature::parse(std::string_view text) {
  if (text.size() > kMaximumFileSize) {
    throw ReleaseSignatureError::oversizedSignature(kMaximumFileSize);
  }
  const auto all = lines(text);
  if (all.size() != 4) {
    throw ReleaseSignatureError::malformedSignature(
        {"it must have 4 lines, not " + std::to_string(all.size()),
         "в нём должно быть 4 строки, а не " + std::to_string(all.size())});
  }
  if (all[0].substr(0, kUntrustedPrefix.size()) != kUntrustedPrefix) {
    throw ReleaseSignatureError::malformedSignature(
        {"line 1 is not an untrusted comment", "строка 1 не недоверенный комментарий"});
  }
  ReleaseSignature signature;
  const auto signatureLine = platform::decodeBase64(all[1]);
  if (!signatureLine || signatureLine->size() != kLegacy.size() + signature.keyId_.size() +
                                                     signature.signature_.size()) {
    throw ReleaseSignatureError::malformedSignature(
        {"line 2 is not base64 of an algorithm, a key id and a signature",
         "строка 2 не base64 алгоритма, номера ключа и подписи"});
  }
  if (all[2].substr(0, kTrustedPrefix.size()) != kTrustedPrefix) {
    throw ReleaseSignatureError::malformedSignature(
        {"line 3 is not a trusted comment", "строка 3 не доверенный комментарий"});
  }
  signature.trustedComment_ = all[2].substr(kTrustedPrefix.size());
  const auto globalLine = platform::decodeBase64(all[3]);
  if (!globalLine || globalLine->size() != signature.globalSignature_.size()) {
    throw ReleaseSignatureError::malformedSignature(
        {"line 4 is not base64 of a signature", "строка 4 не base64 подписи"});
  }
  copyBytes(*globalLine, signature.globalSignature_);
  // The algorithm is judged only in a file of the right form.
  const std::string_view bytes = *signatureLine;
  const std::string_view algorithm = bytes.substr(0, kLegacy.size());
  if (algorithm == kLegacy) {
    signature.algorithm_ = Algorithm::legacy;
  } else if (algorithm == kPrehashed) {
    signature.algorithm_ = Algorithm::prehashed;
  } else {
    throw ReleaseSignatureError::unknownAlgorithm(algorithm);
  }
  copyBytes(bytes.substr(kLegacy.size()), signature.keyId_);
  copyBytes(bytes.substr(kLegacy.size() + signature.keyId_.size()), signature.signature_);
  signature.text_ = text;
  return signature;
}

ReleaseSignature ReleaseSignature::read(const fs::path& file) {
  const platform::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throw platform::SystemError::fromErrno(platform::SystemError::Operation::read, file);
  // One byte past the limit is enough to know the file is too long.
  std::string text(kMaximumFileSize + 1, '\0');
  std::size_t length = 0;
  while (length < text.size()) {
    const ssize_t got = ::read(fd.get(), text.data() + length, text.size() - length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0)
      throw platform::SystemError::fromErrno(platform::SystemError::Operation::read, file);
    if (got == 0) break;
    length += static_cast<std::size_t>(got);
  }
  text.resize(length);
  return parse(text);
}

std::optional<std::int64_t> ReleaseSignature::timestamp() const {
  std::string_view fields = trustedComment_;
  while (true) {
    const auto tab = std::min(fields.find('\t'), fields.size());
    const std::string_view field = fields.substr(0, tab);
    if (field.substr(0, kTimestampField.size()) == kTimestampField) {
      const std::string_view digits = field.substr(kTimestampField.size());
      std::int64_t seconds = 0;
      const auto [end, error] =
          std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
      // from_chars takes a sign; a timestamp has none.
      if (digits.empty() || digits.front() == '-' || error != std::errc() ||
          end != digits.data() + digits.size()) {
        return std::nullopt;
      }
      return seconds;
    }
    if (tab == fields.size()) return std::nullopt;
    fields.remove_prefix(tab + 1);
  }
}

bool ReleaseSignature::signsFile(const fs::path& file, const Ed25519::PublicKey& key) const {
  if (algorithm_ == Algorithm::prehashed) {
    const platform::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) throw platform::SystemError::fromErrno(platform::SystemError::Operation::read, file);
    const auto digest =
        platform::Digest::ofFile(platform::Digest::Algorithm::blake2b512, fd.get(), file);
    return Ed25519::isValidSignature(signature_, digest, key);
  }
  const platform::MappedFile mapped(file);
  return Ed25519::isValidSignature(signature_, mapped.bytes(), key);
}

VerifiedRelease ReleaseSignature::verify(const fs::path& file, const ReleaseKeys& keys) const {
  const std::string keyId = ReleasePublicKey::idText(keyId_);
  const ReleasePublicKey* key = keys.find(keyId_);
  if (key == nullptr) throw ReleaseSignatureError::unknownKey(keyId);
  // The comment's signature costs next to nothing, the file's a pass over the whole file.
  std::string signedComment(reinterpret_cast<const char*>(signature_.data()), signature_.size());
  signedComment += trustedComment_;
  if (!Ed25519::isValidSignature(globalSignature_, signedComment, key->key)) {
    throw ReleaseSignatureError::badGlobalSignature(keyId);
  }
  if (!signsFile(file, key->key)) throw ReleaseSignatureError::badSignature(keyId);
  // Without a time a release cannot be ordered against the installed one.
  const auto signedAt = timestamp();
  if (!signedAt) throw ReleaseSignatureError::missingTimestamp(keyId);
  return {keyId, *signedAt, trustedComment_};
}

}  // namespace tolvane
