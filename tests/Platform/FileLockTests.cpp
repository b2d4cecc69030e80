#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/FileLock.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;

class FileLockTest : public ::testing::Test {
 protected:
  test::TemporaryDirectory folder_;
  fs::path file_ = folder_.path() / ".installer.lock";
};

TEST_F(FileLockTest, HeldUntilDestroyedAndCreatesItsFile) {
  {
    auto lock = FileLock::acquire(file_);
    ASSERT_TRUE(lock);
    EXPECT_TRUE(fs::is_regular_file(file_));
    // Another open of the same file is another holder, as another process would be.
    EXPECT_FALSE(FileLock::tryAcquire(file_));
    auto moved = std::move(*lock);
    lock.reset();
    EXPECT_FALSE(FileLock::tryAcquire(file_)) << "moving the lock released it";
  }
  EXPECT_TRUE(FileLock::tryAcquire(file_));
}

TEST_F(FileLockTest, NoLockWhereNoFileCanBeMade) {
  EXPECT_FALSE(FileLock::acquire(folder_.path() / "missing" / ".installer.lock"));
  test::writeFile(folder_.path() / "plain", "x");
  EXPECT_FALSE(FileLock::acquire(folder_.path() / "plain" / ".installer.lock"));
}

}  // namespace
}  // namespace tolvane::platform
