#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/Bundle.h"
#include "Support/BuildPaths.h"
#include "Support/TemporaryHome.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;

TEST(BundleTest, FindsOnlyExistingResourcesInTheOverriddenFolder) {
  test::TemporaryHome home;
  test::writeFile(home.resources() / "java.zip", "zip");
  test::writeFile(home.resources() / "README", "plain");
  EXPECT_EQ(Bundle::main().url("java", "zip"), home.resources() / "java.zip");
  EXPECT_EQ(Bundle::main().url("README", ""), home.resources() / "README");
  EXPECT_EQ(Bundle::main().url("java", "tar"), std::nullopt);
  EXPECT_EQ(Bundle::main().url("missing", "zip"), std::nullopt);
}

TEST(BundleTest, InfoDictionaryIsAbsentWhenMissingOrNotAnObject) {
  test::TemporaryHome home;
  EXPECT_EQ(Bundle::main().infoDictionary(), std::nullopt);
  for (const char* content : {"{\"CFBundleName\": ", "[\"CFBundleName\"]"}) {
    test::writeFile(home.resources() / "Info.json", content);
    EXPECT_EQ(Bundle::main().infoDictionary(), std::nullopt) << content;
  }
  test::writeFile(home.resources() / "Info.json", R"({"CFBundleVersion": "7"})");
  EXPECT_EQ(Bundle::main().infoDictionary()->at("CFBundleVersion"), "7");
}

TEST(BundleTest, DefaultFolderSitsBesideTheExecutablesFolder) {
  test::TemporaryHome home;
  home.setEnvironment("TOLVANE_RESOURCES", std::nullopt);
  // Test programs are built into <build>/bin like the program itself.
  EXPECT_EQ(Bundle::main().resourceURL(), test::resourceFolder().lexically_normal());
  const auto info = Bundle::main().infoDictionary();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->at("CFBundleExecutable"), "tolvane-installer");
  EXPECT_EQ(info->at("CFBundleIdentifier"), "net.tolvane.installer");
}

}  // namespace
}  // namespace tolvane::platform
