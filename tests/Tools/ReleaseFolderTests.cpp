#include "UpdateServer/ReleaseFolder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "Support/TemporaryHome.h"

namespace tolvane::tools {
namespace {

namespace fs = std::filesystem;
using Outcome = ReleaseFolder::Outcome;
using test::writeFile;

// A release folder "release" next to a file "secret" that must never be reachable.
class ReleaseFolderLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path() / "release";
    writeFile(root_ / "launcher" / "a.jar", "jar");
    writeFile(root_ / "launcher" / "Мой лаунчер.jar", "named");
    writeFile(temp_.path() / "secret", "secret");
    writeFile(temp_.path() / "release-old" / "old.jar", "old");
  }

  test::TemporaryDirectory temp_;
  fs::path root_;
};

TEST_F(ReleaseFolderLookup, FindsFilesBelowTheFolder) {
  const ReleaseFolder folder(root_);
  const auto found = folder.lookup("/launcher/a.jar");
  ASSERT_EQ(found.outcome, Outcome::found);
  EXPECT_EQ(found.file, fs::canonical(root_ / "launcher" / "a.jar"));
  EXPECT_EQ(folder.lookup("/launcher/Мой лаунчер.jar").outcome, Outcome::found);
  // Doubled slashes inside the path name the same file, as on any file server.
  EXPECT_EQ(folder.lookup("/launcher//a.jar").outcome, Outcome::found);
}

TEST_F(ReleaseFolderLookup, FoldersAndAbsentFilesAreMissing) {
  const ReleaseFolder folder(root_);
  EXPECT_EQ(folder.lookup("/").outcome, Outcome::missing);
  EXPECT_EQ(folder.lookup("/launcher").outcome, Outcome::missing);
  EXPECT_EQ(folder.lookup("/launcher/b.jar").outcome, Outcome::missing);
  EXPECT_EQ(folder.lookup("/launcher/a.jar/x").outcome, Outcome::missing);
}

TEST_F(ReleaseFolderLookup, DotfilesAreMissing) {
  writeFile(root_ / "launcher" / ".a.jar.publishing-Ab12Cd", "partial");
  writeFile(root_ / ".git" / "config", "operator's");
  const ReleaseFolder folder(root_);
  for (const char* path :
       {"/launcher/.a.jar.publishing-Ab12Cd", "/.git/config", "/./launcher/a.jar"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(folder.lookup(path).outcome, Outcome::missing);
  }
}

TEST_F(ReleaseFolderLookup, RefusesPathsThatLeaveTheFolder) {
  const ReleaseFolder folder(root_);
  for (const std::string& path :
       std::vector<std::string>{"/../secret", "/launcher/../../secret", "/..", "/launcher/..",
                                "//etc/passwd", "launcher/a.jar", "",
                                std::string("/launcher/a.jar\0x", 17), "/../release-old/old.jar"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(folder.lookup(path).outcome, Outcome::refused);
  }
}

TEST_F(ReleaseFolderLookup, RefusesSymbolicLinksLeadingOutButFollowsLinksInside) {
  fs::create_symlink(temp_.path() / "secret", root_ / "out.jar");
  fs::create_directory_symlink(temp_.path(), root_ / "outside");
  fs::create_symlink(root_ / "launcher" / "a.jar", root_ / "current.jar");
  const ReleaseFolder folder(root_);
  EXPECT_EQ(folder.lookup("/out.jar").outcome, Outcome::refused);
  EXPECT_EQ(folder.lookup("/outside/secret").outcome, Outcome::refused);
  const auto inside = folder.lookup("/current.jar");
  ASSERT_EQ(inside.outcome, Outcome::found);
  EXPECT_EQ(inside.file, fs::canonical(root_ / "launcher" / "a.jar"));
}

struct PublishPathCase {
  const char* name;
  std::string path;
  bool accepted;
  friend void PrintTo(const PublishPathCase& row, std::ostream* out) { *out << row.name; }
};

class PublishPath : public ::testing::TestWithParam<PublishPathCase> {};

TEST_P(PublishPath, IsAcceptedOnlyWhenItStaysInsideAndSurvivesAURL) {
  const auto refusal = ReleaseFolder::refusalForPublishPath(GetParam().path);
  EXPECT_EQ(!refusal.has_value(), GetParam().accepted) << refusal.value_or("accepted");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PublishPath,
    ::testing::Values(PublishPathCase{"plain", "Tolvane.jar", true},
                      PublishPathCase{"nested", "launcher/TolvaneDemoLauncher.jar", true},
                      PublishPathCase{"spaces_and_cyrillic", "лаунчер/Мой файл.jar", true},
                      PublishPathCase{"dots_inside_names", "a..b/c..jar", true},
                      PublishPathCase{"hidden", "launcher/.a.jar", false},
                      PublishPathCase{"empty", "", false},
                      PublishPathCase{"absolute", "/etc/a.jar", false},
                      PublishPathCase{"parent", "../a.jar", false},
                      PublishPathCase{"parent_inside", "launcher/../../a.jar", false},
                      PublishPathCase{"parent_at_end", "launcher/..", false},
                      PublishPathCase{"current", "./a.jar", false},
                      PublishPathCase{"empty_component", "launcher//a.jar", false},
                      PublishPathCase{"trailing_slash", "launcher/", false},
                      PublishPathCase{"manifest_itself", "loaderv3.php", false},
                      PublishPathCase{"percent", "a%20b.jar", false},
                      PublishPathCase{"query", "a.jar?x=1", false},
                      PublishPathCase{"fragment", "a.jar#x", false},
                      PublishPathCase{"backslash", "..\\a.jar", false},
                      PublishPathCase{"newline", "a\n.jar", false},
                      PublishPathCase{"invalid_utf8", "a\xff.jar", false}),
    [](const ::testing::TestParamInfo<PublishPathCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace tolvane::tools
