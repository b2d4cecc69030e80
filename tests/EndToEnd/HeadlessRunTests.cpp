#include <gtest/gtest.h>

#include <filesystem>
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

TEST_F(HeadlessRunTest, ServerDownOnACleanMachineNamesTheRetryFailureTwice) {
  takeServerDown();

  expectFailed(runInstaller(), kInstalling,
               kCheckFailedPrefix + retryFailedText(retryFailedText(
                                        taskFailed("Could not connect to the server."))));
}

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
