#include "Platform/Localization.h"

#include <cstdlib>
#include <optional>

namespace tolvane::platform {
namespace {

std::string_view variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string_view(value) : std::string_view();
}

// "ru", "ru_RU.UTF-8", "ru@…": the language part of a locale name, when it is one we have.
std::optional<Language> languageOf(std::string_view locale) {
  const auto end = locale.find_first_of("_.@");
  const auto language = locale.substr(0, end);
  if (language == "ru") return Language::russian;
  if (language == "en") return Language::english;
  return std::nullopt;
}

}  // namespace

Language userLanguage() {
  std::string_view locale = variable("LC_ALL");
  if (locale.empty()) locale = variable("LC_MESSAGES");
  if (locale.empty()) locale = variable("LANG");
  // The "C" locale shows untranslated texts whatever LANGUAGE says.
  if (locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0) {
    return Language::english;
  }
  // LANGUAGE, when set, is the whole preference list: the first entry we have texts for
  // wins, and with none of them the untranslated (English) texts are shown.
  std::string_view preferences = variable("LANGUAGE");
  if (preferences.empty()) return languageOf(locale).value_or(Language::english);
  while (!preferences.empty()) {
    const auto colon = preferences.find(':');
    if (const auto language = languageOf(preferences.substr(0, colon))) return *language;
    if (colon == std::string_view::npos) break;
    preferences.remove_prefix(colon + 1);
  }
  return Language::english;
}

std::string localized(std::string_view english, std::string_view russian) {
  return std::string(userLanguage() == Language::russian ? russian : english);
}

}  // namespace tolvane::platform
