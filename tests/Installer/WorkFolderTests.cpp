#include "Installer/WorkFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "Support/TemporaryHome.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;

// Earlier versions and other instances running at the same time find these files by name: a
// renamed lock lets two runs write at once, a renamed partial folder or record loses every
// interrupted download, a renamed runtime is provisioned again.
TEST(WorkFolderTest, EveryPathIsInTheWorkFolderUnderTheNameOtherRunsUse) {
  const test::TemporaryHome home;
  const WorkFolder folder = WorkFolder::forCurrentUser();
  EXPECT_EQ(folder.root(), home.home() / "Tolvane");
  const std::vector<std::pair<fs::path, fs::path>> named = {
      {folder.launcherJar(), "Tolvane.jar"},
      {folder.launcherStaging(), ".Tolvane.jar.download"},
      {folder.partialFolder(), ".Tolvane.jar.partial"},
      {folder.partialRecord(), ".Tolvane.jar.partial/resume.json"},
      {folder.runtimeFolder(), "java"},
      {folder.javaExecutable(), "java/bin/java"},
      {folder.runtimeStaging(), ".java-staging"},
      {folder.archiveCopy(), "java.zip"},
      {folder.runLock(), ".installer.lock"},
  };
  for (const auto& [path, relative] : named) EXPECT_EQ(path, folder.root() / relative);
}

}  // namespace
}  // namespace tolvane
