#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>

#include "Installer/InstallerService.h"
#include "Installer/ResourceError.h"
#include "InstallerFakes.h"
#include "Support/FakeRuntime.h"
#include "Support/ParamName.h"
#include "Support/Thrown.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::FakeRuntime;

// Real archives, the real /usr/bin/unzip, real child processes, a temporary home.
class ProvisioningTest : public ::testing::TestWithParam<const char*> {
 protected:
  explicit ProvisioningTest(const char* homeName = "home") : home_(homeName) {}

  template <typename F>
  static ResourceError errorOf(std::string_view step, F&& f) {
    return test::thrownBy<ResourceError>(step, std::forward<F>(f));
  }

  InstallerService serviceWithUnzip(const fs::path& tool) {
    return InstallerService(folder_, network_, downloader_, tool);
  }

  test::TemporaryHome home_;
  const WorkFolder folder_{home_.home()};
  fs::path work_ = folder_.root();
  fs::path record_ = home_.root() / "launch-record";
  std::shared_ptr<test::FakeNetworkService> network_ = std::make_shared<test::FakeNetworkService>();
  std::shared_ptr<test::FakeDownloadService> downloader_ =
      std::make_shared<test::FakeDownloadService>(work_ / "Tolvane.jar");
  InstallerService service_{folder_, network_, downloader_};

  void SetUp() override { FakeRuntime::writeArchive(home_.resources() / "java.zip", record_); }

  void expectNothingHalfDone() const {
    EXPECT_FALSE(fs::exists(work_ / "java"));
    EXPECT_FALSE(fs::exists(work_ / "java.zip"));
    EXPECT_FALSE(fs::exists(work_ / ".java-staging"));
  }
};

TEST_F(ProvisioningTest, FirstRunUnpacksOnceAndLaterRunsLeaveTheRuntimeAlone) {
  service_.createWorkFolder();
  service_.createWorkFolder();
  service_.installJava();
  EXPECT_EQ(::access((work_ / "java" / "bin" / "java").c_str(), X_OK), 0);
  EXPECT_FALSE(fs::exists(work_ / "java.zip"));
  EXPECT_FALSE(fs::exists(work_ / ".java-staging"));
  EXPECT_FALSE(service_.isInstalled());  // no jar yet
  test::writeFile(work_ / "Tolvane.jar", "jar");
  EXPECT_TRUE(service_.isInstalled());

  test::writeFile(home_.resources() / "java.zip", "a different, broken archive");
  service_.installJava();
  EXPECT_FALSE(fs::exists(work_ / "java.zip"));
  EXPECT_TRUE(fs::exists(work_ / "java" / "lib" / "modules"));
}

TEST_F(ProvisioningTest, CorruptArchiveReportsTheExitStatusAndLeavesNoHalfRuntime) {
  test::writeFile(home_.resources() / "java.zip", "PK\x03\x04 truncated");
  service_.createWorkFolder();
  const ResourceError error = errorOf("installJava()", [&] { service_.installJava(); });
  EXPECT_EQ(error.message(),
            "Не удалось разархивировать JDK в папке назначения:\n\n\"/usr/bin/unzip\" ended with "
            "exit status 9");
  expectNothingHalfDone();
  FakeRuntime::writeArchive(home_.resources() / "java.zip", record_);
  service_.installJava();  // the next run provisions again
  EXPECT_TRUE(fs::exists(work_ / "java" / "bin" / "java"));
}

TEST_F(ProvisioningTest, UnpackerKilledHalfwayLeavesNoRuntimeBehind) {
  // Unpacks part of the runtime into the folder it was given, then dies.
  const fs::path tool = home_.root() / "dying-unzip";
  test::writeFile(tool, "#!/bin/sh\nmkdir -p \"$4/java/bin\"\nkill -KILL $$\n", fs::perms(0755));
  service_.createWorkFolder();
  auto service = serviceWithUnzip(tool);
  const ResourceError error = errorOf("installJava()", [&] { service.installJava(); });
  EXPECT_EQ(error.code(), ResourceError::Code::unzipJava);
  EXPECT_EQ(error.cause()->localizedDescription(),
            "\"" + tool.string() + "\" ended with signal 9 (Killed)");
  expectNothingHalfDone();

  auto missingTool = serviceWithUnzip(home_.root() / "no-unzip");
  EXPECT_EQ(
      errorOf("installJava()", [&] { missingTool.installJava(); }).cause()->localizedDescription(),
      "The file “no-unzip” doesn’t exist.");
}

TEST_F(ProvisioningTest, StaleArchiveCopyFromAnEarlierRunDoesNotBlockProvisioning) {
  service_.createWorkFolder();
  test::writeFile(work_ / "java.zip", "left over");
  const ResourceError copy = errorOf(
      "copyJavaArchive()", [&] { service_.copyJavaArchive("java", "zip", work_ / "java.zip"); });
  EXPECT_EQ(copy.message(),
            "Не удалось скопировать JDK в папку назначения:\n\n“java.zip” couldn’t be copied to "
            "“Tolvane” because an item with the same name already exists.");
  service_.installJava();
  EXPECT_TRUE(fs::exists(work_ / "java" / "bin" / "java"));
}

TEST_F(ProvisioningTest, MissingBundledArchive) {
  fs::remove(home_.resources() / "java.zip");
  service_.createWorkFolder();
  EXPECT_EQ(errorOf("installJava()", [&] { service_.installJava(); }).message(),
            "Не удалось найти JDK");
  EXPECT_FALSE(fs::exists(work_ / "java.zip"));
}

TEST_F(ProvisioningTest, WorkFolderBlockedByAFile) {
  test::writeFile(work_, "not a folder");
  EXPECT_EQ(errorOf("createWorkFolder()", [&] { service_.createWorkFolder(); }).message(),
            "Ошибка при создании папки:\n\nThe file “Tolvane” couldn’t be saved in the folder “" +
                work_.parent_path().filename().string() +
                "” because a file with the same name already exists.");
}

// Odd but legal home folder names must reach unzip and java as single arguments.
class OddHomeTest : public ProvisioningTest {
 protected:
  OddHomeTest() : ProvisioningTest(GetParam()) {}
};

TEST_P(OddHomeTest, InstallsAndStartsTheLauncherInTheWorkFolder) {
  service_.createWorkFolder();
  service_.installJava();
  test::writeFile(work_ / "Tolvane.jar", "jar");
  service_.runLauncher();
  const auto record = FakeRuntime::waitForRecord(record_);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->workingFolder, fs::canonical(work_).string());
  EXPECT_EQ(record->arguments,
            (std::vector<std::string>{"-jar", (work_ / "Tolvane.jar").string()}));
}

INSTANTIATE_TEST_SUITE_P(Homes, OddHomeTest,
                         ::testing::Values("plain", "with spaces", "it's \"quoted\" $HOME"),
                         [](const auto& info) { return test::paramName(info.param, info.index); });

TEST_F(ProvisioningTest, MissingRuntimeFailsToStartTheLauncher) {
  service_.createWorkFolder();
  EXPECT_EQ(errorOf("runLauncher()", [&] { service_.runLauncher(); }).message(),
            "Не удалось запустить лаунчер при помощи JDK:\n\nThe file “java” doesn’t exist.");
}

}  // namespace
}  // namespace tolvane
