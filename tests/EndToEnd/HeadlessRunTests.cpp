#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "EndToEnd/HeadlessRunFixture.h"

// The runs a player sees go well. The decision rows behind them (several entries, canonically
// equal paths, a deleted jar, an empty or malformed manifest) are checked on InstallerService.
namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

TEST_F(HeadlessRunTest, FirstInstallStoresDownloadsAndStarts) {
  const std::string path = "release 2/Лаунчер Толване.jar";
  publish(path, kVersionOne);
  setManifest({{path, "hash-1", 11}});

  expectLaunched(runInstaller(), kInstalling);

  EXPECT_EQ(readFile(jar()), kVersionOne);
  EXPECT_TRUE(fs::exists(workFolder() / "java" / "bin" / "java"));
  EXPECT_FALSE(fs::exists(workFolder() / "java.zip"));
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/" + path});
  const auto stored = storedEntry();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->path, path);
  EXPECT_EQ(stored->hash, "hash-1");
  EXPECT_EQ(stored->size, 11);
}

// The alert's text has three voices: the catalogue's prefix (Russian), the HTTP layer's
// messages (English), and the platform's texts, which follow the player's language.
struct LanguageRow {
  const char* name = "";
  const char* lang = "";
  std::string gaveUp;  // the platform's generic text for the retry handler's error
  std::string refused;
  friend void PrintTo(const LanguageRow& row, std::ostream* out) { *out << row.name; }
};

class HeadlessLanguageTest : public HeadlessRunTest,
                             public ::testing::WithParamInterface<LanguageRow> {};

TEST_P(HeadlessLanguageTest, ServerDownOnACleanMachineNamesTheRetryFailureTwice) {
  home_.setEnvironment("LANG", GetParam().lang);
  takeServerDown();

  const std::string retryFailed =
      "Request retry failed with retry error: " + GetParam().gaveUp + ", original error: ";
  expectFailed(runInstaller(), kInstalling,
               kCheckFailedPrefix + retryFailed + retryFailed + taskFailed(GetParam().refused));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, HeadlessLanguageTest,
    ::testing::Values(LanguageRow{.name = "English",
                                  .lang = "en_US.UTF-8",
                                  .gaveUp = kGaveUp,
                                  .refused = "Could not connect to the server."},
                      LanguageRow{.name = "Russian",
                                  .lang = "ru_RU.UTF-8",
                                  .gaveUp = kGaveUpInRussian,
                                  .refused = "Не удалось подключиться к серверу."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HeadlessRunTest, ServerDownWithAJarStartsIt) {
  installVersionOne();
  takeServerDown();

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), kVersionOne);
}

TEST_F(HeadlessRunTest, VerboseRunListsTheUnpackingOnStandardErrorOnly) {
  publish("files/Tolvane.jar", kVersionOne);
  setManifest({{"files/Tolvane.jar", "hash-1", 11}});

  auto process = startInstaller({}, "run", "--verbose");
  const auto outcome = finishInstaller(*process);

  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.out, kInstalling);
  EXPECT_NE(outcome.err.find("Archive:"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("HTTP GET "), std::string::npos) << outcome.err;
  // No progress drawing where standard error is not a terminal.
  EXPECT_EQ(outcome.err.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace tolvane::test
