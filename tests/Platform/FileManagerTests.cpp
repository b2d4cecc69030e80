#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Platform/FileManager.h"
#include "Platform/SystemError.h"
#include "Support/TemporaryHome.h"
#include "Support/Thrown.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::thrownBy;
using test::writeFile;

class FileManagerTest : public ::testing::Test {
 protected:
  test::TemporaryHome home_;
  FileManager& files_ = FileManager::defaultManager();
  fs::path dir_ = home_.root() / "files";
};

TEST_F(FileManagerTest, HomeComesFromTheEnvironmentOnEveryCall) {
  EXPECT_EQ(files_.homeDirectoryForCurrentUser(), home_.home());
  home_.setEnvironment("HOME", "/somewhere/else");
  EXPECT_EQ(files_.homeDirectoryForCurrentUser(), fs::path("/somewhere/else"));
}

TEST_F(FileManagerTest, CreatesFoldersWithIntermediatesAndAcceptsExistingOnes) {
  const fs::path deep = dir_ / "a b" / "c";
  files_.createDirectory(deep, true);
  EXPECT_TRUE(files_.fileExists(deep));  // a folder counts
  EXPECT_NO_THROW(files_.createDirectory(deep, true));
  EXPECT_EQ(thrownBy<SystemError>("createDirectory() of an existing folder",
                                  [&] { files_.createDirectory(deep, false); })
                .code(),
            EEXIST);
  EXPECT_EQ(thrownBy<SystemError>("createDirectory() in a missing folder",
                                  [&] { files_.createDirectory(dir_ / "x" / "y", false); })
                .code(),
            ENOENT);

  writeFile(dir_ / "Tolvane", "a file");
  const auto blocked = thrownBy<SystemError>(
      "createDirectory() over a file", [&] { files_.createDirectory(dir_ / "Tolvane", true); });
  EXPECT_EQ(blocked.code(), EEXIST);
  // The file in a folder's way is named either way.
  const auto below = thrownBy<SystemError>("createDirectory() below a file", [&] {
    files_.createDirectory(dir_ / "Tolvane" / "s", true);
  });
  EXPECT_EQ(below.code(), ENOTDIR);
  for (const auto& error : {blocked, below}) {
    EXPECT_EQ(error.localizedDescription(),
              "The file “Tolvane” couldn’t be saved in the folder “files” because a file with the "
              "same name already exists.");
  }
}

TEST_F(FileManagerTest, CopyKeepsBytesModeAndLinksAndNeverOverwrites) {
  const std::string bytes("\0\xff binary \n", 11);
  writeFile(dir_ / "tree" / "bin" / "tool", bytes, fs::perms(0750));
  fs::create_symlink("bin/tool", dir_ / "tree" / "link");
  files_.copyItem(dir_ / "tree", dir_ / "copy");
  EXPECT_EQ(readFile(dir_ / "copy" / "bin" / "tool"), bytes);
  EXPECT_EQ(fs::status(dir_ / "copy" / "bin" / "tool").permissions(), fs::perms(0750));
  EXPECT_EQ(fs::read_symlink(dir_ / "copy" / "link"), fs::path("bin/tool"));

  writeFile(dir_ / "target", "keep me");
  EXPECT_EQ(thrownBy<SystemError>("copyItem() onto a file",
                                  [&] { files_.copyItem(dir_ / "copy", dir_ / "target"); })
                .code(),
            EEXIST);
  EXPECT_EQ(readFile(dir_ / "target"), "keep me");
  // A copy names the side that failed: here what was to be copied.
  const auto missing = thrownBy<SystemError>("copyItem() of nothing",
                                             [&] { files_.copyItem(dir_ / "nope", dir_ / "new"); });
  EXPECT_EQ(missing.localizedDescription(),
            "The file “nope” couldn’t be opened because there is no such file.");
  const auto noFolder = thrownBy<SystemError>("copyItem() into a missing folder", [&] {
    files_.copyItem(dir_ / "target", dir_ / "gone" / "target");
  });
  EXPECT_EQ(noFolder.localizedDescription(), "The folder “gone” doesn’t exist.");
  files_.removeItem(dir_ / "copy");
  EXPECT_FALSE(fs::exists(dir_ / "copy"));
  EXPECT_EQ(
      thrownBy<SystemError>("removeItem() of nothing", [&] { files_.removeItem(dir_ / "copy"); })
          .code(),
      ENOENT);
}

TEST_F(FileManagerTest, MoveRenamesButNeverReplaces) {
  writeFile(dir_ / "a", "A");
  writeFile(dir_ / "b", "B");
  EXPECT_EQ(thrownBy<SystemError>("moveItem() onto a file",
                                  [&] { files_.moveItem(dir_ / "a", dir_ / "b"); })
                .code(),
            EEXIST);
  EXPECT_EQ(readFile(dir_ / "b"), "B");
  files_.moveItem(dir_ / "a", dir_ / "c");
  EXPECT_FALSE(fs::exists(dir_ / "a"));
  EXPECT_EQ(readFile(dir_ / "c"), "A");
}

TEST_F(FileManagerTest, MoveAcrossFileSystemsCopiesThenRemoves) {
  struct stat shm {
  }, tmp{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(home_.root().c_str(), &tmp) != 0 ||
      shm.st_dev == tmp.st_dev) {
    GTEST_SKIP() << "no second file system available";
  }
  const fs::path target = "/dev/shm/tolvane-move-" + std::to_string(::getpid());
  writeFile(dir_ / "tree" / "file", "moved", fs::perms(0700));
  files_.moveItem(dir_ / "tree", target);
  EXPECT_FALSE(fs::exists(dir_ / "tree"));
  EXPECT_EQ(readFile(target / "file"), "moved");
  EXPECT_EQ(fs::status(target / "file").permissions(), fs::perms(0700));
  fs::remove_all(target);
}

}  // namespace
}  // namespace tolvane::platform
