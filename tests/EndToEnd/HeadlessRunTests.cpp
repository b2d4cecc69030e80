#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "EndToEnd/HeadlessRunFixture.h"
#include "Support/FlakyFile.h"
#include "Support/WaitUntil.h"

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

TEST_F(HeadlessRunTest, FirstInstallStoresDownloadsAndStarts) {
  publish("files/Tolvane.jar", "launcher v1");
  setManifest({{"files/Tolvane.jar", "hash-1", 11}});

  const auto outcome = runInstaller();

  expectLaunched(outcome, kInstalling);
  EXPECT_EQ(readFile(jar()), "launcher v1");
  EXPECT_TRUE(fs::exists(workFolder() / "java" / "bin" / "java"));
  EXPECT_FALSE(fs::exists(workFolder() / "java.zip"));
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});
  const auto stored = storedEntry();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->path, "files/Tolvane.jar");
  EXPECT_EQ(stored->hash, "hash-1");
  EXPECT_EQ(stored->size, 11);
}

TEST_F(HeadlessRunTest, UnchangedManifestStartsTheJarWithoutDownloading) {
  installVersionOne();
  publish("files/Tolvane.jar", "launcher v1 changed on the server only");

  const auto outcome = runInstaller();

  expectLaunched(outcome, kUpdating);
  EXPECT_TRUE(newDownloads().empty());
  EXPECT_EQ(readFile(jar()), "launcher v1");
}

TEST_F(HeadlessRunTest, ChangedHashOrSizeDownloadsTheNewVersion) {
  installVersionOne();
  publish("files/Tolvane.jar", "launcher v2");
  setManifest({{"files/Tolvane.jar", "hash-2", 11}});

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), "launcher v2");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});

  publish("files/Tolvane.jar", "launcher v3 is longer");
  setManifest({{"files/Tolvane.jar", "hash-2", 21}});

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), "launcher v3 is longer");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});
  EXPECT_EQ(storedEntry()->size, 21);
}

TEST_F(HeadlessRunTest, DeletedJarIsDownloadedAgain) {
  installVersionOne();
  fs::remove(jar());

  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), "launcher v1");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});
}

TEST_F(HeadlessRunTest, OnlyTheFirstOfSeveralFilesCounts) {
  publish("first.jar", "first");
  publish("second.jar", "second");
  setManifest({{"first.jar", "a", 5}, {"second.jar", "b", 6}});

  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), "first");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/first.jar"});

  // A change further down the list is no new version.
  setManifest({{"first.jar", "a", 5}, {"third.jar", "c", 7}});
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
}

TEST_F(HeadlessRunTest, CanonicallyEquivalentPathIsTheSameVersion) {
  const std::string composed = "files/caf\u00e9.jar";
  const std::string decomposed = "files/cafe\u0301.jar";
  publish(composed, "launcher");
  setManifest({{composed, "h", 8}});
  expectLaunched(runInstaller(), kInstalling);
  ASSERT_EQ(newDownloads().size(), 1u);

  setManifest({{decomposed, "h", 8}});

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
}

TEST_F(HeadlessRunTest, PathWithSpacesAndNonASCIIIsDownloaded) {
  const std::string path = "release 2/Лаунчер Толване.jar";
  publish(path, "launcher with a long name");
  setManifest({{path, "h", 25}});

  expectLaunched(runInstaller(), kInstalling);
  EXPECT_EQ(readFile(jar()), "launcher with a long name");
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/" + path});
}

TEST_F(HeadlessRunTest, EmptyFileListFailsOnACleanMachineAndIsIgnoredWithAJar) {
  setManifest({});
  expectFailed(runInstaller(), kInstalling,
               kCheckFailed +
                   "The operation couldn\u2019t be completed. (Tolvane_Apple_Silicon.ResourceError "
                   "error 7.)");
  EXPECT_FALSE(storedEntry());

  installVersionOne();
  setManifest({});
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
}

// What a clean machine is told about an unusable manifest is covered with the other faults.
TEST_F(HeadlessRunTest, MalformedManifestIsIgnoredWithAJar) {
  installVersionOne();
  setManifestText("{\"files\": [{\"path\": 3}]}");
  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
  EXPECT_EQ(storedEntry()->hash, "hash-1");
}

TEST_F(HeadlessRunTest, ServerDownOnACleanMachineNamesTheRetryFailureTwice) {
  takeServerDown();

  expectFailed(
      runInstaller(), kInstalling,
      kCheckFailed + retryFailed(retryFailed(
                         "URLSessionTask failed with error: Could not connect to the server.")));
}

TEST_F(HeadlessRunTest, ServerDownWithAJarStartsIt) {
  installVersionOne();
  takeServerDown();

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_EQ(readFile(jar()), "launcher v1");
}

TEST_F(HeadlessRunTest, ServerDownWithAStoredEntryButNoJarTriesTheDownload) {
  installVersionOne();
  fs::remove(jar());
  takeServerDown();

  // The manifest failure is absorbed; the download from the stored path is what fails.
  expectFailed(
      runInstaller(), kInstalling,
      kCheckFailed +
          retryFailed("URLSessionTask failed with error: Could not connect to the server."));
  EXPECT_EQ(storedEntry()->path, "files/Tolvane.jar");
}

TEST_F(HeadlessRunTest, VerboseRunListsTheUnpackingOnStandardErrorOnly) {
  publish("files/Tolvane.jar", "launcher v1");
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

// A launcher download behind a connection that breaks off every response after 40 %.
class HeadlessResumeTest : public HeadlessRunTest {
 protected:
  static constexpr std::size_t kSize = 1'000'000;

  void SetUp() override {
    // Ahead of the fixture's catch-all release route, which would otherwise answer.
    file_ = FlakyFile::serve(server_, "/files/big.jar", {body_, "\"v1\"", ""}, {});
    HeadlessRunTest::SetUp();
    setManifest({{"files/big.jar", "hash-1", static_cast<std::int64_t>(kSize)}});
  }

  std::vector<std::string> downloadRanges() const {
    std::vector<std::string> ranges;
    for (const auto& request : server_.requests()) {
      if (request.path == "/files/big.jar") ranges.push_back(request.header("Range").value_or("-"));
    }
    return ranges;
  }

  const std::string body_ = patternBytes(kSize, 5);
  std::shared_ptr<FlakyFile> file_;
};

TEST_F(HeadlessResumeTest, CompletesWithinOneRun) {
  expectLaunched(runInstaller(), kInstalling);

  EXPECT_EQ(readFile(jar()), body_);
  EXPECT_EQ(downloadRanges(), (std::vector<std::string>{"-", "bytes=400000-", "bytes=800000-"}));
  EXPECT_LT(file_->bodyBytesSent(), 2 * kSize);
}

TEST_F(HeadlessResumeTest, KillBetweenAttemptsResumesOnTheNextRun) {
  home_.setEnvironment(RetryHandler::kRetryDelayVariable, "60");
  auto killed = startInstaller({}, "killed");
  // The first attempt has broken off and the run waits to retry: end it there.
  ASSERT_TRUE(
      waitUntil([&] { return fs::exists(workFolder() / ".Tolvane.jar.partial" / "resume.json"); },
                std::chrono::seconds(30)));
  ::kill(killed->processIdentifier(), SIGTERM);
  EXPECT_NE(finishInstaller(*killed, "killed").exitCode, 0);
  home_.setEnvironment(RetryHandler::kRetryDelayVariable, "0.02");

  expectLaunched(runInstaller(), kInstalling);

  EXPECT_EQ(readFile(jar()), body_);
  EXPECT_EQ(downloadRanges(), (std::vector<std::string>{"-", "bytes=400000-", "bytes=800000-"}));
}

}  // namespace
}  // namespace tolvane::test
