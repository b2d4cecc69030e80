#include "Installer/ReleaseKeys.h"

#include <algorithm>

#include "Installer/ReleaseSignatureError.h"
#include "Platform/Base64.h"
#include "Platform/Configuration.h"

namespace tolvane {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::string_view kSeparators = "; \t\r\n";
constexpr std::string_view kCommentPrefix = "untrusted comment:";
// "Ed" names Ed25519 in a key, whichever form its signatures take.
constexpr std::string_view kKeyAlgorithm = "Ed";

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

ReleasePublicKey ReleasePublicKey::parse(std::string_view text) {
  const std::string_view original = trimmed(text);
  std::string_view line = original;
  if (line.substr(0, kCommentPrefix.size()) == kCommentPrefix) {
    const auto newline = line.find('\n');
    line = newline == std::string_view::npos ? std::string_view() : trimmed(line.substr(newline));
  }
  const auto bytes = platform::decodeBase64(line);
  if (!bytes) {
    throw ReleaseSignatureError::malformedKey(
        original, {"its key line is not base64", "строка ключа не в base64"});
  }
  ReleasePublicKey key;
  if (bytes->size() != kKeyAlgorithm.size() + key.id.size() + key.key.size() ||
      bytes->substr(0, kKeyAlgorithm.size()) != kKeyAlgorithm) {
    throw ReleaseSignatureError::malformedKey(original,
                                              {"it is not \"Ed\", an 8-byte id and a 32-byte key",
                                               "это не \"Ed\", 8 байт номера и 32 байта ключа"});
  }
  const auto* at = reinterpret_cast<const unsigned char*>(bytes->data()) + kKeyAlgorithm.size();
  std::copy_n(at, key.id.size(), key.id.begin());
  std::copy_n(at + key.id.size(), key.key.size(), key.key.begin());
  return key;
}

std::string ReleasePublicKey::idText(const KeyId& id) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string text;
  for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {
    text += kHexDigits[*byte >> 4];
    text += kHexDigits[*byte & 0x0f];
  }
  const auto first = std::min(text.find_first_not_of('0'), text.size() - 1);
  return text.substr(first);
}

ReleaseKeys ReleaseKeys::parse(std::string_view list) {
  std::vector<ReleasePublicKey> keys;
  while (true) {
    const auto start = list.find_first_not_of(kSeparators);
    if (start == std::string_view::npos) break;
    list.remove_prefix(start);
    const auto end = std::min(list.find_first_of(kSeparators), list.size());
    keys.push_back(ReleasePublicKey::parse(list.substr(0, end)));
    list.remove_prefix(end);
  }
  return ReleaseKeys(std::move(keys));
}

ReleaseKeys ReleaseKeys::configured() {
  return parse(platform::Configuration::releasePublicKeys());
}

const ReleasePublicKey* ReleaseKeys::find(const ReleasePublicKey::KeyId& id) const {
  const auto it =
      std::find_if(keys_.begin(), keys_.end(), [&](const auto& key) { return key.id == id; });
  return it == keys_.end() ? nullptr : &*it;
}

}  // namespace tolvane
