// The input is read three ways: as a .minisig file, as a list of release keys and as one
// public key (a .pub file's text). Each reader must accept exactly the texts a plain model of
// the format accepts, and give back what the text holds. A parsed signature is then checked
// against the release key the seeds were made with and the file they sign: only a signature
// whose bytes are one of the seeds' own may verify, and every refusal names the right key.

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Installer/ReleaseKeys.h"
#include "Installer/ReleaseSignature.h"
#include "Installer/ReleaseSignatureError.h"
#include "Invariant.h"
#include "Platform/Base64.h"

namespace {

namespace fs = std::filesystem;
using tolvane::ReleaseKeys;
using tolvane::ReleasePublicKey;
using tolvane::ReleaseSignature;
using tolvane::ReleaseSignatureError;
using Reason = tolvane::ReleaseSignatureError::Reason;
using tolvane::fuzz::check;
using tolvane::fuzz::fail;
using tolvane::platform::decodeBase64;

// The key (made with `minisign -G`) and the file its seeds in corpus/ReleaseSignature sign.
constexpr std::string_view kReleaseKey = "RWSwv9+49p1b6QfXuTmhiQIS7Y3XkgJuVqME4npcvOFRXQGt5QT48V8p";
constexpr std::string_view kSignedFile = "Tolvane fuzz release\n";
// The seeds made with that key: their second and fourth lines, their trusted comment, and
// whether the checks pass or find no timestamp.
struct Seed {
  std::string_view signatureLine;
  std::string_view comment;
  std::string_view globalLine;
  bool hasTimestamp;
};
constexpr std::array<Seed, 3> kSeeds = {{
    {"RUSwv9+49p1b6Tl05h5d63nFWDUXhsP+PqO1ruJ3e4xJlPaJtPsEfrz6+EpdaLOMcuTzedIOJ12JXf6CVsqrcGbmmb/"
     "cZtw8rwc=",
     "timestamp:1700000000\tfile:release.jar\thashed",
     "q4W8ZNqY/VbenBB7JXxhIg/CIFrwfuMp/MR1HFzhTQ9XBMoG4r0GXQNlNZ7PWjSgUqi9evrf1bAaddnQ8yvECg==",
     true},
    {"RWSwv9+49p1b6WPkfY2JUQCSZ+jVdKLIW5o+HDYZiNyLsVYksGItTi5rS6fAeT4LgCOgNCBy1N+FCi9KpG+"
     "n9u8NeGFAwj61NQU=",
     "timestamp:1700000000\tfile:release.jar",
     "6LwtZopq9O08W/F5SunVAbI1RZtf4kj04l55UPm4oeX/vEbuzgAaXQ+JSFrW/5jy4dKHL3lT6NTXn2yUxHeoAg==",
     true},
    {"RUSwv9+49p1b6Tl05h5d63nFWDUXhsP+PqO1ruJ3e4xJlPaJtPsEfrz6+EpdaLOMcuTzedIOJ12JXf6CVsqrcGbmmb/"
     "cZtw8rwc=",
     "file:release.jar\thashed",
     "NQDGdUq7L6s3yJWZmb80dQ2aoAeoMABnrLH2RtHAyNSGK9ZcMqFro7JZI0v2i+Bfa1PXhMuo8kZNBpBCDeQqAg==",
     false},
}};

fs::path gSignedFile;
std::optional<ReleaseKeys> gKeys;

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The model: a .minisig is four "\n"-ended lines (the last "\n" optional, a "\r" before each
// dropped): an untrusted comment, base64 of "Ed"/"ED" + 8 + 64 bytes, a trusted comment,
// base64 of 64 bytes.
struct ModelSignature {
  std::string signatureLine;  // decoded
  std::string comment;
  std::string globalLine;  // decoded
};

std::optional<ModelSignature> model(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::string_view line = tolvane::fuzz::takeLine(text);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }
  if (lines.size() != 4 || !startsWith(lines[0], "untrusted comment: ") ||
      !startsWith(lines[2], "trusted comment: ")) {
    return std::nullopt;
  }
  const auto signature = decodeBase64(lines[1]);
  const auto global = decodeBase64(lines[3]);
  if (!signature || signature->size() != 74 || !global || global->size() != 64) {
    return std::nullopt;
  }
  return ModelSignature{*signature, std::string(lines[2].substr(17)), *global};
}

// The model of a key: base64 of "Ed" + 8 + 32 bytes.
bool isKey(std::string_view text) {
  const auto bytes = decodeBase64(text);
  return bytes && bytes->size() == 42 && startsWith(*bytes, "Ed");
}

bool knownAlgorithm(std::string_view signatureLine) {
  return startsWith(signatureLine, "Ed") || startsWith(signatureLine, "ED");
}

void checkSignature(std::string_view input) {
  const auto expected = model(input);
  std::optional<ReleaseSignature> signature;
  try {
    signature = ReleaseSignature::parse(input);
  } catch (const ReleaseSignatureError& error) {
    const Reason reason = input.size() > ReleaseSignature::kMaximumFileSize
                              ? Reason::oversizedSignature
                          : !expected ? Reason::malformedSignature
                                      : Reason::unknownAlgorithm;
    check(error.reason() == reason,
          "a signature file is refused for its size, then its form, then its algorithm");
    check(reason != Reason::unknownAlgorithm || !knownAlgorithm(expected->signatureLine),
          "a well-formed signature of a known algorithm parses");
    return;
  }
  check(expected.has_value(), "only a well-formed signature file parses");
  check(knownAlgorithm(expected->signatureLine), "only the two known algorithms parse");
  const std::string_view algorithm = std::string_view(expected->signatureLine).substr(0, 2);
  check((signature->algorithm() == ReleaseSignature::Algorithm::legacy) == (algorithm == "Ed"),
        "\"Ed\" is the legacy form, \"ED\" the prehashed one");
  check(signature->trustedComment() == expected->comment, "the trusted comment is line 3's");
  check(std::string_view(reinterpret_cast<const char*>(signature->keyId().data()), 8) ==
            std::string_view(expected->signatureLine).substr(2, 8),
        "the key id is the 8 bytes after the algorithm");
  check(signature->text() == input, "the text is kept as it was read");
  if (const auto timestamp = signature->timestamp()) {
    check(*timestamp >= 0, "a timestamp is not negative");
    check(expected->comment.find("timestamp:") != std::string::npos,
          "a timestamp comes from the trusted comment");
  }

  const Seed* seed = nullptr;
  for (const Seed& candidate : kSeeds) {
    if (expected->signatureLine == *decodeBase64(candidate.signatureLine) &&
        expected->globalLine == *decodeBase64(candidate.globalLine) &&
        expected->comment == candidate.comment) {
      seed = &candidate;
    }
  }
  const bool releaseKeysId = gKeys->find(signature->keyId()) != nullptr;
  try {
    const auto release = signature->verify(gSignedFile, *gKeys);
    check(seed != nullptr && seed->hasTimestamp, "only a seed's own signature verifies");
    check(release.timestamp == 1700000000, "a verified signature vouches for its timestamp");
  } catch (const ReleaseSignatureError& error) {
    check(seed == nullptr || !seed->hasTimestamp, "a seed's own signature verifies");
    check((error.reason() == Reason::missingTimestamp) == (seed != nullptr),
          "only a signature by the key over a comment without a time lacks a timestamp");
    check((error.reason() == Reason::unknownKey) == !releaseKeysId,
          "a signature is refused for its key exactly when it names another key");
    check(error.reason() == Reason::unknownKey || error.reason() == Reason::badGlobalSignature ||
              error.reason() == Reason::badSignature || error.reason() == Reason::missingTimestamp,
          "verifying refuses only for the key, the signatures or the timestamp");
    check(error.keyId() == ReleasePublicKey::idText(signature->keyId()),
          "a refusal names the key the signature names");
  }
}

std::uint64_t littleEndian(const ReleasePublicKey::KeyId& id) {
  std::uint64_t value = 0;
  for (std::size_t i = id.size(); i-- > 0;) value = (value << 8) | id[i];
  return value;
}

void checkKeyList(std::string_view input) {
  std::vector<std::string_view> tokens;
  bool allKeys = true;
  for (std::size_t start = 0;
       (start = input.find_first_not_of("; \t\r\n", start)) != std::string_view::npos;) {
    const auto end = std::min(input.find_first_of("; \t\r\n", start), input.size());
    tokens.push_back(input.substr(start, end - start));
    allKeys = allKeys && isKey(tokens.back());
    start = end;
  }
  try {
    const ReleaseKeys keys = ReleaseKeys::parse(input);
    check(allKeys && keys.keys().size() == tokens.size(), "a list parses into one key per text");
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      const auto bytes = *decodeBase64(tokens[i]);
      const auto& key = keys.keys()[i];
      check(bytes.compare(2, 8, reinterpret_cast<const char*>(key.id.data()), 8) == 0 &&
                bytes.compare(10, 32, reinterpret_cast<const char*>(key.key.data()), 32) == 0,
            "a key holds the id and the key its text encodes");
      const std::string id = key.idText();
      check(!id.empty() && id.size() <= 16 && (id == "0" || id.front() != '0') &&
                id.find_first_not_of("0123456789ABCDEF") == std::string::npos,
            "a key id reads as upper-case hex without leading zeros");
      check(std::stoull(id, nullptr, 16) == littleEndian(key.id), "a key id reads as its number");
      check(keys.find(key.id) != nullptr, "every listed key is found by its id");
    }
  } catch (const ReleaseSignatureError& error) {
    check(!allKeys, "a list of keys parses");
    check(error.reason() == Reason::malformedKey, "a list is refused only for a malformed key");
  }
}

void checkPublicKey(std::string_view input) {
  try {
    const ReleasePublicKey key = ReleasePublicKey::parse(input);
    const std::string bytes =
        "Ed" + std::string(reinterpret_cast<const char*>(key.id.data()), key.id.size()) +
        std::string(reinterpret_cast<const char*>(key.key.data()), key.key.size());
    const ReleasePublicKey again = ReleasePublicKey::parse(tolvane::platform::encodeBase64(bytes));
    check(again.id == key.id && again.key == key.key, "a key reads back from its own text");
  } catch (const ReleaseSignatureError& error) {
    check(error.reason() == Reason::malformedKey, "a key is refused only as malformed");
    check(!isKey(input), "a bare key parses");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gSignedFile = tolvane::fuzz::scratchFolder("signature") / "release.jar";
  std::ofstream(gSignedFile, std::ios::binary) << kSignedFile;
  gKeys = ReleaseKeys::parse(kReleaseKey);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = tolvane::fuzz::text(data, size);
  checkSignature(input);
  checkKeyList(input);
  checkPublicKey(input);
  return 0;
}
