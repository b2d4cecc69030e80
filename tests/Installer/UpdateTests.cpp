#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "Installer/InstalledRelease.h"
#include "Installer/InstallerService.h"
#include "Installer/ResourceError.h"
#include "Installer/StoredFileModel.h"
#include "InstallerFakes.h"
#include "Platform/UserDefaults.h"
#include "Support/Thrown.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using platform::UserDefaults;

const FileModel kCurrent{"launchers/Tolvane-2.jar", "aaa", 100};
const FileModel kOld{"launchers/Tolvane-1.jar", "zzz", 90};

class UpdateTest : public ::testing::Test {
 protected:
  void store(const FileModel& model) {
    storeFileModel(UserDefaults::standard(), model, "loaderModel");
  }
  static std::optional<FileModel> stored() {
    return fileModel(UserDefaults::standard(), "loaderModel");
  }
  void putJar() { test::writeFile(jar_, "old jar"); }
  void serveManifest() { network_->answer = LoaderModel{{kCurrent, kOld}}; }
  void serverDown() { network_->answer = downError_; }

  test::TemporaryHome home_;
  // Not in HOME: the service works in the folder it is given.
  const WorkFolder folder_{home_.root() / "player"};
  fs::path jar_ = folder_.launcherJar();
  platform::ErrorPtr downError_ = std::make_shared<test::ServerDownError>();
  std::shared_ptr<test::FakeNetworkService> network_ = std::make_shared<test::FakeNetworkService>();
  std::shared_ptr<test::FakeDownloadService> downloader_ =
      std::make_shared<test::FakeDownloadService>(jar_);
  InstallerService service_{folder_, network_, downloader_};
};

// One row of the update decision: what the server answers, what is stored, whether a jar
// is on disk, the expected answer, and whether the download that follows fetches and then
// stores the manifest's entry (else the stored one).
struct DecisionRow {
  const char* name;
  enum class Server { manifest, emptyManifest, down } server = Server::manifest;
  std::optional<std::string> storedData = std::nullopt;  // raw bytes under "loaderModel"
  bool jarPresent = false;
  std::optional<bool> expected = std::nullopt;  // nothing: throws
  bool entryReplaced = false;

  friend void PrintTo(const DecisionRow& row, std::ostream* out) { *out << row.name; }
};

const std::string kCurrentJSON = *kCurrent.encode();
const std::string kOldJSON = *kOld.encode();

class UpdateDecisionTest : public UpdateTest, public ::testing::WithParamInterface<DecisionRow> {};

TEST_P(UpdateDecisionTest, AnswersAndStoresAsTheRowSays) {
  const DecisionRow& row = GetParam();
  if (row.storedData) UserDefaults::standard().set(*row.storedData, "loaderModel");
  if (row.jarPresent) putJar();
  switch (row.server) {
    case DecisionRow::Server::manifest:
      serveManifest();
      break;
    case DecisionRow::Server::emptyManifest:
      network_->answer = LoaderModel{};
      break;
    case DecisionRow::Server::down:
      serverDown();
      break;
  }
  if (row.expected) {
    EXPECT_EQ(service_.checkForUpdate(), *row.expected);
  } else {
    const auto error =
        test::thrownBy<ResourceError>("checkForUpdate()", [&] { service_.checkForUpdate(); });
    EXPECT_EQ(error.code(), ResourceError::Code::failedDownloadLoaderModel);
    if (row.server == DecisionRow::Server::down) {
      EXPECT_EQ(error.cause(), downError_);
      EXPECT_EQ(error.message(),
                "Не удалось проверить наличие новой версии лаунчера:\n\nCould not connect to the "
                "server.");
    } else {
      const auto* inner = dynamic_cast<const ResourceError*>(error.cause().get());
      ASSERT_NE(inner, nullptr);
      EXPECT_EQ(inner->code(), ResourceError::Code::failedToGetFirstObjectFromLoaderModel);
    }
  }
  // Nothing is stored before the new jar is in place: a run killed here must not claim it.
  EXPECT_EQ(UserDefaults::standard().data("loaderModel"), row.storedData);
  EXPECT_TRUE(downloader_->requested.empty());
  if (row.expected != true) return;
  service_.downloadLauncher();
  const bool current = row.entryReplaced || row.storedData == kCurrentJSON;
  EXPECT_EQ(downloader_->requested.back(), current ? kCurrent.path : kOld.path);
  EXPECT_EQ(UserDefaults::standard().data("loaderModel"),
            row.entryReplaced ? std::optional(kCurrentJSON) : row.storedData);
}

using S = DecisionRow::Server;
INSTANTIATE_TEST_SUITE_P(
    Rows, UpdateDecisionTest,
    ::testing::Values(
        DecisionRow{.name = "SameEntryJarPresent",
                    .storedData = kCurrentJSON,
                    .jarPresent = true,
                    .expected = false},
        DecisionRow{.name = "SameEntryJarDeleted", .storedData = kCurrentJSON, .expected = true},
        DecisionRow{.name = "FirstRun", .expected = true, .entryReplaced = true},
        DecisionRow{.name = "NewVersionJarPresent",
                    .storedData = kOldJSON,
                    .jarPresent = true,
                    .expected = true,
                    .entryReplaced = true},
        DecisionRow{.name = "CorruptStoredEntry",
                    .storedData = "{\"path\":",
                    .jarPresent = true,
                    .expected = true,
                    .entryReplaced = true},
        DecisionRow{.name = "EmptyManifestJarPresent",
                    .server = S::emptyManifest,
                    .jarPresent = true,
                    .expected = false},
        DecisionRow{.name = "EmptyManifestStoredNoJar",
                    .server = S::emptyManifest,
                    .storedData = kOldJSON,
                    .expected = true},
        DecisionRow{
            .name = "EmptyManifestNothing", .server = S::emptyManifest, .expected = std::nullopt},
        DecisionRow{
            .name = "DownJarPresent", .server = S::down, .jarPresent = true, .expected = false},
        DecisionRow{
            .name = "DownStoredNoJar", .server = S::down, .storedData = kOldJSON, .expected = true},
        DecisionRow{.name = "DownCorruptStoredNoJar",
                    .server = S::down,
                    .storedData = "garbage",
                    .expected = std::nullopt},
        DecisionRow{.name = "DownNothing", .server = S::down, .expected = std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Nothing stored and no decision: nothing to download from.
TEST_F(UpdateTest, DownloadWithoutAnyEntryFails) {
  EXPECT_EQ(
      test::thrownBy<ResourceError>("downloadLauncher()", [&] { service_.downloadLauncher(); })
          .code(),
      ResourceError::Code::failedGetLoaderModel);
  EXPECT_TRUE(downloader_->requested.empty());
}

TEST_F(UpdateTest, FailedDownloadWithAnOlderJarStartsItOnRetryAndTheNextLaunchTriesAgain) {
  store(kOld);
  putJar();
  serveManifest();
  EXPECT_TRUE(service_.checkForUpdate());
  downloader_->failure =
      std::make_shared<const ResourceError>(ResourceError::failedDownloadLoaderModel(downError_));
  const auto error =
      test::thrownBy<ResourceError>("downloadLauncher()", [&] { service_.downloadLauncher(); });
  EXPECT_EQ(error.cause(), downError_);  // passed on unchanged
  EXPECT_EQ(stored(), kOld);
  EXPECT_EQ(test::readFile(jar_), "old jar");
  EXPECT_FALSE(service_.checkForUpdate());  // the retry button: the older jar is started

  downloader_->failure = nullptr;
  InstallerService nextLaunch{folder_, network_, downloader_};
  EXPECT_TRUE(nextLaunch.checkForUpdate());
  nextLaunch.downloadLauncher();
  EXPECT_EQ(downloader_->requested.back(), kCurrent.path);
  EXPECT_EQ(stored(), kCurrent);
  EXPECT_FALSE(nextLaunch.checkForUpdate());
}

TEST_F(UpdateTest, FailedDownloadWithoutAnyJarIsDownloadedAgainOnRetry) {
  serveManifest();
  EXPECT_TRUE(service_.checkForUpdate());
  downloader_->failure = downError_;
  EXPECT_THROW(service_.downloadLauncher(), platform::ErrorException);
  EXPECT_EQ(stored(), std::nullopt);
  EXPECT_TRUE(service_.checkForUpdate());
  downloader_->failure = nullptr;
  service_.downloadLauncher();
  EXPECT_EQ(downloader_->requested, (std::vector<std::optional<std::string>>(2, kCurrent.path)));
  EXPECT_EQ(stored(), kCurrent);
}

// With release keys configured, only the jar the download service verified and recorded
// counts as installed: one from before the keys, or written since by anything else, is
// downloaded (and verified) again, and is never started as the fallback.
const char* const kReleaseKey = "RWQBAgMEBQYHCAkKCwwNDg8QERITFBUWFxgZGhscHR4fICEiIyQlJico";

struct KeyedRow {
  const char* name;
  enum class Jar { verified, unverified, replacedSinceVerified } jar;
  bool serverDown = false;
  bool entryStored = true;       // the manifest's entry, when the server answers
  std::optional<bool> expected;  // nothing: throws, as with no jar at all
  friend void PrintTo(const KeyedRow& row, std::ostream* out) { *out << row.name; }
};

class KeyedUpdateTest : public UpdateTest, public ::testing::WithParamInterface<KeyedRow> {
 protected:
  void SetUp() override { home_.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", kReleaseKey); }
};

TEST_P(KeyedUpdateTest, StartsOnlyAVerifiedJar) {
  const KeyedRow& row = GetParam();
  test::writeFile(folder_.javaExecutable(), "runtime");
  putJar();
  if (row.jar != KeyedRow::Jar::unverified) {
    InstalledRelease::store(UserDefaults::standard(), 1700000000, jar_);
  }
  if (row.jar == KeyedRow::Jar::replacedSinceVerified) {
    test::writeFile(jar_, "a newer jar");
  }
  if (row.entryStored) store(kCurrent);
  row.serverDown ? serverDown() : serveManifest();

  EXPECT_EQ(service_.isInstalled(), row.jar == KeyedRow::Jar::verified);
  if (row.expected) {
    EXPECT_EQ(service_.checkForUpdate(), *row.expected);
  } else {
    const auto error =
        test::thrownBy<ResourceError>("checkForUpdate()", [&] { service_.checkForUpdate(); });
    EXPECT_EQ(error.code(), ResourceError::Code::failedDownloadLoaderModel);
    EXPECT_EQ(error.cause(), downError_);
  }
}

using J = KeyedRow::Jar;
INSTANTIATE_TEST_SUITE_P(
    Rows, KeyedUpdateTest,
    ::testing::Values(
        KeyedRow{.name = "VerifiedJar", .jar = J::verified, .expected = false},
        KeyedRow{.name = "JarFromBeforeTheKeys", .jar = J::unverified, .expected = true},
        KeyedRow{
            .name = "JarReplacedSinceVerified", .jar = J::replacedSinceVerified, .expected = true},
        KeyedRow{
            .name = "DownVerifiedJar", .jar = J::verified, .serverDown = true, .expected = false},
        KeyedRow{.name = "DownJarFromBeforeTheKeys",
                 .jar = J::unverified,
                 .serverDown = true,
                 .expected = true},
        KeyedRow{.name = "DownJarFromBeforeTheKeysNothingStored",
                 .jar = J::unverified,
                 .serverDown = true,
                 .entryStored = false,
                 .expected = std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateTest, WithKeysAFailedDownloadIsTriedAgainRatherThanStartAnUnverifiedJar) {
  home_.setEnvironment("TOLVANE_RELEASE_PUBLIC_KEYS", kReleaseKey);
  store(kOld);
  putJar();
  serveManifest();
  EXPECT_TRUE(service_.checkForUpdate());
  downloader_->failure = downError_;
  EXPECT_THROW(service_.downloadLauncher(), platform::ErrorException);

  EXPECT_TRUE(service_.checkForUpdate());  // the retry button
}

}  // namespace
}  // namespace tolvane
