#include "Installer/ReleaseSignatureError.h"

#include <ctime>
#include <utility>

#include "Platform/Localization.h"

namespace tolvane {
namespace {

// "1700000000 (2023-11-14 22:13:20 UTC)": the number is what the trusted comment says, the
// date is for the person reading it.
std::string timeText(std::int64_t seconds) {
  std::string text = std::to_string(seconds);
  const auto time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  char date[32] = {};
  if (::gmtime_r(&time, &utc) != nullptr &&
      std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S UTC", &utc) > 0) {
    text += std::string(" (") + date + ")";
  }
  return text;
}

// What a person can read of a text that failed to be a key: printable ASCII, shortened.
std::string shown(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 64)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
  return text.size() > 64 ? out + "..." : out;
}

}  // namespace

ReleaseSignatureError::ReleaseSignatureError(Reason reason, Text detail, std::string keyId)
    : reason_(reason), detail_(std::move(detail)), keyId_(std::move(keyId)) {}

ReleaseSignatureError ReleaseSignatureError::malformedKey(std::string_view keyText, Text why) {
  return {Reason::malformedKey,
          {"\"" + shown(keyText) + "\" is not a minisign public key: " + why.english,
           "\"" + shown(keyText) + "\" не открытый ключ minisign: " + why.russian},
          {}};
}

ReleaseSignatureError ReleaseSignatureError::oversizedSignature(std::size_t limit) {
  const std::string kib = std::to_string(limit / 1024);
  return {
      Reason::oversizedSignature,
      {"the signature file is larger than " + kib + " KiB", "файл подписи больше " + kib + " КиБ"},
      {}};
}

ReleaseSignatureError ReleaseSignatureError::malformedSignature(Text what) {
  return {Reason::malformedSignature,
          {"the signature file is malformed: " + what.english,
           "файл подписи повреждён: " + what.russian},
          {}};
}

ReleaseSignatureError ReleaseSignatureError::unknownAlgorithm(std::string_view algorithm) {
  return {Reason::unknownAlgorithm,
          {"unknown signature algorithm \"" + shown(algorithm) + "\"",
           "неизвестный алгоритм подписи \"" + shown(algorithm) + "\""},
          {}};
}

ReleaseSignatureError ReleaseSignatureError::unknownKey(const std::string& keyId) {
  return {Reason::unknownKey,
          {"it was made with key " + keyId + ", which is not a release key",
           "она сделана ключом " + keyId + ", а это не ключ выпусков"},
          keyId};
}

ReleaseSignatureError ReleaseSignatureError::badSignature(const std::string& keyId) {
  return {Reason::badSignature,
          {"the signature by key " + keyId + " does not match the file",
           "подпись ключом " + keyId + " не соответствует файлу"},
          keyId};
}

ReleaseSignatureError ReleaseSignatureError::badGlobalSignature(const std::string& keyId) {
  return {Reason::badGlobalSignature,
          {"the trusted comment was not signed by key " + keyId,
           "доверенный комментарий не подписан ключом " + keyId},
          keyId};
}

ReleaseSignatureError ReleaseSignatureError::missingTimestamp(const std::string& keyId) {
  return {Reason::missingTimestamp,
          {"the trusted comment signed by key " + keyId + " has no timestamp",
           "в доверенном комментарии, подписанном ключом " + keyId + ", нет метки времени"},
          keyId};
}

ReleaseSignatureError ReleaseSignatureError::olderRelease(const std::string& keyId,
                                                          std::int64_t signedAt,
                                                          std::int64_t installedAt) {
  return {Reason::olderRelease,
          {"the release signed by key " + keyId + " at " + timeText(signedAt) +
               " is older than the installed one, signed at " + timeText(installedAt),
           "выпуск, подписанный ключом " + keyId + " в " + timeText(signedAt) +
               ", старше установленного, подписанного в " + timeText(installedAt)},
          keyId};
}

std::string ReleaseSignatureError::description(bool russian) const {
  if (reason_ == Reason::malformedKey) {
    return russian ? "Ключ проверки выпусков задан неверно: " + detail_.russian
                   : "A release key is unusable: " + detail_.english;
  }
  return russian ? "Подпись выпуска не прошла проверку: " + detail_.russian
                 : "The release's signature did not verify: " + detail_.english;
}

std::string ReleaseSignatureError::localizedDescription() const {
  return description(platform::userLanguage() == platform::Language::russian);
}

std::string ReleaseSignatureError::debugDescription() const { return description(false); }

}  // namespace tolvane
