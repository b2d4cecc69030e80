#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "Platform/Localization.h"
#include "Support/TemporaryHome.h"

namespace tolvane::platform {
namespace {

struct LocaleRow {
  const char* name = "";
  friend void PrintTo(const LocaleRow& row, std::ostream* out) { *out << row.name; }
  std::optional<std::string> language = std::nullopt;
  std::optional<std::string> all = std::nullopt;
  std::optional<std::string> messages = std::nullopt;
  std::optional<std::string> lang = std::nullopt;
  Language expected = Language::english;
};

class UserLanguageTest : public testing::TestWithParam<LocaleRow> {};

TEST_P(UserLanguageTest, FollowsTheLocaleEnvironmentAsGettextDoes) {
  const auto& row = GetParam();
  test::TemporaryHome home;
  home.setEnvironment("LANGUAGE", row.language);
  home.setEnvironment("LC_ALL", row.all);
  home.setEnvironment("LC_MESSAGES", row.messages);
  home.setEnvironment("LANG", row.lang);
  EXPECT_EQ(userLanguage(), row.expected);
  EXPECT_EQ(localized("file", "файл"), row.expected == Language::russian ? "файл" : "file");
}

INSTANTIATE_TEST_SUITE_P(
    Locales, UserLanguageTest,
    testing::Values(
        LocaleRow{.name = "NothingSet", .expected = Language::english},
        LocaleRow{.name = "RussianLang", .lang = "ru_RU.UTF-8", .expected = Language::russian},
        LocaleRow{.name = "MessagesOverLang",
                  .messages = "en_US.UTF-8",
                  .lang = "ru_RU.UTF-8",
                  .expected = Language::english},
        LocaleRow{.name = "AllOverMessages",
                  .all = "ru_RU.UTF-8",
                  .messages = "en_GB.UTF-8",
                  .expected = Language::russian},
        LocaleRow{.name = "LanguageListFirstKnownWins",
                  .language = "de:ru:en",
                  .lang = "de_DE.UTF-8",
                  .expected = Language::russian},
        LocaleRow{.name = "LanguageIgnoredInTheCLocale",
                  .language = "ru",
                  .lang = "C.UTF-8",
                  .expected = Language::english},
        LocaleRow{.name = "LanguageListWithoutAKnownEntryIsEnglish",
                  .language = "de",
                  .lang = "ru_RU.UTF-8",
                  .expected = Language::english},
        LocaleRow{.name = "UnknownLanguageIsEnglish",
                  .lang = "uk_UA.UTF-8",
                  .expected = Language::english}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvane::platform
