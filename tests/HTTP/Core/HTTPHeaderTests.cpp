#include "HTTP/Core/HTTPHeader.h"

#include <gtest/gtest.h>

#include <ostream>

#include <map>

#include "HTTP/Core/HTTPHeaders.h"

namespace tolvane::http {
namespace {

TEST(QualityValueTest, ListsDescendByTenthsFromOne) {
  EXPECT_EQ(HTTPHeader::qualityEncoded({"br", "gzip", "deflate"}),
            "br;q=1.0, gzip;q=0.9, deflate;q=0.8");
  EXPECT_EQ(HTTPHeader::qualityEncoded({}), "");
  EXPECT_EQ(HTTPHeader::acceptLanguageValue({"a", "b", "c", "d", "e", "f", "g", "h"}),
            "a;q=1.0, b;q=0.9, c;q=0.8, d;q=0.7, e;q=0.6, f;q=0.5");
  EXPECT_EQ(HTTPHeader::acceptLanguageValue({}), "");
  EXPECT_EQ(HTTPHeader::defaultAcceptEncoding(),
            (HTTPHeader{"Accept-Encoding", "br;q=1.0, gzip;q=0.9, deflate;q=0.8"}));
}

struct LocaleCase {
  const char* name;
  std::map<std::string, std::string> environment;
  std::vector<std::string> expected;
  // Test listings show the case by its name.
  friend void PrintTo(const LocaleCase& c, std::ostream* os) { *os << c.name; }
};

class PreferredLanguagesTest : public testing::TestWithParam<LocaleCase> {};

TEST_P(PreferredLanguagesTest, ComeFromLocaleSettings) {
  const auto& environment = GetParam().environment;
  const auto lookup = [&](const std::string& name) -> std::optional<std::string> {
    const auto it = environment.find(name);
    return it == environment.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  EXPECT_EQ(HTTPHeader::preferredLanguages(lookup), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PreferredLanguagesTest,
    testing::Values(
        LocaleCase{"LangOnly", {{"LANG", "ru_RU.UTF-8"}}, {"ru-RU"}},
        LocaleCase{"LanguageListFirst",
                   {{"LANGUAGE", "de_AT:de:en"}, {"LANG", "ru_RU.UTF-8"}},
                   {"de-AT", "de", "en", "ru-RU"}},
        LocaleCase{"LcAllBeatsLang",
                   {{"LC_ALL", "fr_CA.ISO-8859-1"}, {"LC_MESSAGES", "it_IT"}, {"LANG", "en_US"}},
                   {"fr-CA"}},
        LocaleCase{"EmptyLcAllSkipped",
                   {{"LC_ALL", ""}, {"LC_MESSAGES", "sr_RS@latin"}, {"LANG", "en_US"}},
                   {"sr-RS"}},
        LocaleCase{
            "CAndPosixAreNotLanguages", {{"LANGUAGE", "C:POSIX::en"}, {"LANG", "C.UTF-8"}}, {"en"}},
        LocaleCase{"OnlyCLocale", {{"LANG", "C"}}, {}},
        LocaleCase{"DuplicatesDropped",
                   {{"LANGUAGE", "en_US:en_US.UTF-8:en"}, {"LANG", "en_US.UTF-8"}},
                   {"en-US", "en"}},
        LocaleCase{"NothingSet", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UserAgentTest, TakesEveryPartFromBundleInformation) {
  const nlohmann::json info = {{"CFBundleExecutable", "tolvane-installer"},
                               {"CFBundleIdentifier", "net.tolvane.installer"},
                               {"CFBundleShortVersionString", "1.2.3"},
                               {"CFBundleVersion", "42"}};
  EXPECT_EQ(
      HTTPHeader::userAgentValue(info, "/opt/x/bin/other", "Linux 6.1.0"),
      "tolvane-installer/1.2.3 (net.tolvane.installer; build:42; Linux 6.1.0) TolvaneHTTP/1.0.0");
}

TEST(UserAgentTest, FallsBackPerPartWhenInformationIsMissingOrNotText) {
  const nlohmann::json partial = {{"CFBundleExecutable", 7}, {"CFBundleVersion", "9"}};
  EXPECT_EQ(
      HTTPHeader::userAgentValue(partial, "/usr//local/bin/tolvane-installer/", "Linux 5.10.0"),
      "tolvane-installer/Unknown (Unknown; build:9; Linux 5.10.0) TolvaneHTTP/1.0.0");
  EXPECT_EQ(HTTPHeader::userAgentValue(nlohmann::json(), std::nullopt, "Linux 1.0.0"),
            "Unknown/Unknown (Unknown; build:Unknown; Linux 1.0.0) TolvaneHTTP/1.0.0");
  EXPECT_EQ(HTTPHeader::userAgentValue(nlohmann::json::array(), "relative-name", "Linux 1.0.0"),
            "relative-name/Unknown (Unknown; build:Unknown; Linux 1.0.0) TolvaneHTTP/1.0.0");
}

TEST(UserAgentTest, SystemVersionAlwaysHasThreeNumbers) {
  EXPECT_EQ(HTTPHeader::osNameVersion("6.1.0-18-amd64"), "Linux 6.1.0");
  EXPECT_EQ(HTTPHeader::osNameVersion("5.15.133.1-microsoft-standard-WSL2"), "Linux 5.15.133");
  EXPECT_EQ(HTTPHeader::osNameVersion("6.8"), "Linux 6.8.0");
  EXPECT_EQ(HTTPHeader::osNameVersion("4.19-rc1"), "Linux 4.19.0");
  EXPECT_EQ(HTTPHeader::osNameVersion("weird"), "Linux 0.0.0");
}

}  // namespace
}  // namespace tolvane::http
