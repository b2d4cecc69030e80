#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "Platform/OperatingSystem.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"

namespace tolvane::platform::os {
namespace {

namespace fs = std::filesystem;

// Each call both ways: the build's own (Linux calls, or POSIX in a portable build) and the
// POSIX fallback, which a Linux build otherwise never runs.
struct Way {
  const char* name = "";
  friend void PrintTo(const Way& row, std::ostream* out) { *out << row.name; }
  std::function<fs::path()> executablePath;
  std::function<bool(const fs::path&, const fs::path&)> renameWithoutReplacing;
  std::function<std::optional<fs::path>(int, const fs::path&)> openedFilePath;
  std::function<bool(int (&)[2])> makeCloseOnExecPipe;
};

class OperatingSystemTest : public testing::TestWithParam<Way> {
 protected:
  test::TemporaryDirectory folder_;
};

TEST_P(OperatingSystemTest, FindsTheRunningProgram) {
  // Test programs record their command line, as the installer does.
  const fs::path program = GetParam().executablePath();
  ASSERT_FALSE(program.empty());
  EXPECT_TRUE(program.is_absolute());
  EXPECT_EQ(program, fs::canonical(program));
  EXPECT_EQ(program.filename(), "platform_tests");
}

TEST_P(OperatingSystemTest, RenamesOnlyOntoNothing) {
  test::writeFile(folder_.path() / "a", "a");
  test::writeFile(folder_.path() / "b", "b");
  errno = 0;
  EXPECT_FALSE(GetParam().renameWithoutReplacing(folder_.path() / "a", folder_.path() / "b"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(test::readFile(folder_.path() / "b"), "b");
  ASSERT_TRUE(GetParam().renameWithoutReplacing(folder_.path() / "a", folder_.path() / "c"));
  EXPECT_EQ(test::readFile(folder_.path() / "c"), "a");
  EXPECT_FALSE(fs::exists(folder_.path() / "a"));
}

TEST_P(OperatingSystemTest, TellsWhereAnOpenedFileReallyIs) {
  const fs::path inside = folder_.path() / "inside";
  const fs::path outside = folder_.path() / "outside";
  test::writeFile(inside / "file", "in");
  test::writeFile(outside / "file", "out");
  fs::create_directory_symlink(inside, folder_.path() / "link");

  const FileDescriptor viaLink(::open((folder_.path() / "link" / "file").c_str(), O_RDONLY));
  EXPECT_EQ(GetParam().openedFilePath(viaLink.get(), folder_.path() / "link" / "file"),
            fs::canonical(inside / "file"));

  // The link is swapped after the open: the name now leads elsewhere, the descriptor does not.
  const FileDescriptor opened(::open((folder_.path() / "link" / "file").c_str(), O_RDONLY));
  fs::remove(folder_.path() / "link");
  fs::create_directory_symlink(outside, folder_.path() / "link");
  const auto real = GetParam().openedFilePath(opened.get(), folder_.path() / "link" / "file");
  EXPECT_NE(real, fs::canonical(outside / "file"));
}

TEST_P(OperatingSystemTest, MakesPipesThatExecDoesNotPassOn) {
  int fds[2];
  ASSERT_TRUE(GetParam().makeCloseOnExecPipe(fds));
  const FileDescriptor readEnd(fds[0]);
  const FileDescriptor writeEnd(fds[1]);
  EXPECT_EQ(::fcntl(readEnd.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(::fcntl(writeEnd.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, OperatingSystemTest,
    testing::Values(
        Way{.name = "Build",
            .executablePath = [] { return executablePath(); },
            .renameWithoutReplacing =
                [](const fs::path& from, const fs::path& to) {
                  return renameWithoutReplacing(from, to);
                },
            .openedFilePath = [](int fd, const fs::path& as) { return openedFilePath(fd, as); },
            .makeCloseOnExecPipe = [](int (&fds)[2]) { return makeCloseOnExecPipe(fds); }},
        Way{.name = "POSIX",
            .executablePath = [] { return posix::executablePath(); },
            .renameWithoutReplacing =
                [](const fs::path& from, const fs::path& to) {
                  return posix::renameWithoutReplacing(from, to);
                },
            .openedFilePath = [](int fd,
                                 const fs::path& as) { return posix::openedFilePath(fd, as); },
            .makeCloseOnExecPipe = [](int (&fds)[2]) { return posix::makeCloseOnExecPipe(fds); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(POSIXExecutablePathTest, LooksABareNameUpOnThePathAsTheShellDid) {
  test::TemporaryHome home;
  const auto recorded = commandLine();
  const fs::path tool = home.root() / "bin" / "tool";
  test::writeFile(tool, "#!/bin/sh\n", fs::perms(0755));
  home.setEnvironment("PATH", "/nonexistent:" + (home.root() / "bin").string());
  const char* argv[] = {"tool"};
  recordCommandLine(1, argv);
  EXPECT_EQ(posix::executablePath(), fs::canonical(tool));
  const char* missing[] = {"no-such-tool"};
  recordCommandLine(1, missing);
  EXPECT_EQ(posix::executablePath(), fs::path());

  std::vector<const char*> back;
  for (const auto& argument : recorded) back.push_back(argument.c_str());
  recordCommandLine(static_cast<int>(back.size()), back.data());
}

TEST(StandardFoldersTest, FollowTheBaseDirectoryConvention) {
  test::TemporaryHome home;
  home.setEnvironment("XDG_CACHE_HOME", "relative/is/ignored");
  EXPECT_EQ(cacheFolder(), home.home() / ".cache");
  home.setEnvironment("XDG_CACHE_HOME", (home.root() / "cache").string());
  EXPECT_EQ(cacheFolder(), home.root() / "cache");

  // A runtime folder others may enter is not one to put a socket in.
  const fs::path runtime = home.root() / "run";
  fs::create_directory(runtime);
  home.setEnvironment("XDG_RUNTIME_DIR", runtime.string());
  fs::permissions(runtime, fs::perms(0755));
  EXPECT_EQ(runtimeFolder(), std::nullopt);
  fs::permissions(runtime, fs::perms(0700));
  EXPECT_EQ(runtimeFolder(), runtime);
}

}  // namespace
}  // namespace tolvane::platform::os
