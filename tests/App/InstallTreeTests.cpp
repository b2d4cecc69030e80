#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "App/DesktopModule.h"
#include "Support/BuildPaths.h"
#include "Support/ChildProgram.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// `cmake --install` into a fresh prefix, once for the whole suite: the runtime archive
// makes it slow.
class InstallTreeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = std::make_unique<TemporaryDirectory>();
    installLog_ = commandOutput("cmake --install '" + test::buildFolder().string() +
                                    "' --prefix '" + prefix_->path().string() + "' 2>&1",
                                &installStatus_);
  }
  static void TearDownTestSuite() { prefix_.reset(); }

  void SetUp() override { ASSERT_EQ(installStatus_, 0) << installLog_; }

  static fs::path prefix() { return prefix_->path(); }
  static fs::path program() { return prefix() / "bin" / "tolvane-installer"; }
  static fs::path module() {
    return (program().parent_path() / DesktopModule::kRelativePath).lexically_normal();
  }

  static inline std::unique_ptr<TemporaryDirectory> prefix_;
  static inline std::string installLog_;
  static inline int installStatus_ = -1;
};

TEST_F(InstallTreeTest, PutsEverythingInTheUsualPlaces) {
  for (const char* file :
       {"bin/tolvane-installer", "bin/tolvane-update-server", "share/tolvane-installer/java.zip",
        "share/tolvane-installer/Launcher_logo.png", "share/tolvane-installer/Info.json",
        "share/applications/net.tolvane.installer.desktop",
        "share/icons/hicolor/256x256/apps/net.tolvane.installer.png",
        "share/man/man1/tolvane-installer.1.gz", "share/man/man1/tolvane-update-server.1.gz"}) {
    EXPECT_TRUE(fs::is_regular_file(prefix() / file)) << file;
  }
  // A private folder below lib/, where the program (not the dynamic linker) finds it.
  EXPECT_TRUE(fs::is_regular_file(module())) << module();
  EXPECT_EQ(module().parent_path().filename(), "tolvane-installer");
  EXPECT_EQ(*fs::relative(module(), prefix()).begin(), "lib");
  const std::string entry = readFile(prefix() / "share/applications/net.tolvane.installer.desktop");
  EXPECT_NE(entry.find("\nExec=tolvane-installer\n"), std::string::npos);
  EXPECT_NE(entry.find("\nIcon=net.tolvane.installer\n"), std::string::npos);
}

TEST_F(InstallTreeTest, InstalledProgramFindsItsOwnBundleInformation) {
  TemporaryHome home;
  // Only the installed tree may be found, not the build tree's resources.
  home.setEnvironment("TOLVANE_RESOURCES", std::nullopt);
  const auto info = nlohmann::json::parse(readFile(prefix() / "share/tolvane-installer/Info.json"));
  ChildProgram version(program(), {"--version"}, home.root(), "version");
  EXPECT_EQ(version.waitForExit(10s), 0);
  EXPECT_EQ(version.standardOutput(),
            "tolvane-installer " + info.at("CFBundleShortVersionString").get<std::string>() + "\n");

  ChildProgram wrong(program(), {"--frobnicate"}, home.root(), "wrong");
  EXPECT_EQ(wrong.waitForExit(10s), 2);
  EXPECT_NE(wrong.standardError().find("--frobnicate"), std::string::npos);
}

// The window's libraries are the bulk of a start; a run without a window must not load them.
TEST_F(InstallTreeTest, ProgramLoadsTheWindowLibrariesOnlyThroughItsModule) {
  const std::string programLibraries =
      commandOutput("LD_TRACE_LOADED_OBJECTS=1 '" + program().string() + "'");
  EXPECT_NE(programLibraries.find("libcurl"), std::string::npos) << programLibraries;
  EXPECT_EQ(programLibraries.find("libwx"), std::string::npos) << programLibraries;
  EXPECT_EQ(programLibraries.find("libgtk"), std::string::npos) << programLibraries;
  const std::string moduleLibraries = commandOutput("ldd '" + module().string() + "'");
  EXPECT_NE(moduleLibraries.find("libwx_gtk3u_core"), std::string::npos) << moduleLibraries;
}

}  // namespace
}  // namespace tolvane::test
