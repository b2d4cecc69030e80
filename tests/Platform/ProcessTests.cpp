#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "Platform/Process.h"
#include "Platform/SystemError.h"
#include "Support/FakeRuntime.h"
#include "Support/TemporaryHome.h"
#include "Support/Thrown.h"
#include "Support/WaitUntil.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;
using test::FakeRuntime;

class ProcessTest : public ::testing::Test {
 protected:
  test::TemporaryHome home_;
  fs::path record_ = home_.root() / "record";
  fs::path recorder_ = home_.root() / "bin dir" / "recorder";
  void SetUp() override {
    test::writeFile(recorder_, FakeRuntime::script(record_), fs::perms(0755));
  }
};

TEST_F(ProcessTest, PassesArgumentsVerbatimAndRunsInTheGivenFolder) {
  const std::vector<std::string> arguments = {"-jar", "a b", "it's \"quoted\"", "$HOME;*", ""};
  Process process(recorder_, arguments, home_.home());
  process.run();
  EXPECT_EQ(process.waitUntilExit(), (TerminationStatus{TerminationStatus::Reason::exit, 0}));
  const auto record = FakeRuntime::readRecord(record_);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->workingFolder, fs::canonical(home_.home()).string());
  EXPECT_EQ(record->arguments, arguments);
}

// The child's standard output goes where it is routed; its standard error stays ours.
struct RoutingCase {
  const char* name;
  Process::OutputRouting routing;
  std::string expectedOut;
  std::string expectedErr;
};

void PrintTo(const RoutingCase& row, std::ostream* out) { *out << row.name; }

class ProcessRoutingTest : public ProcessTest, public ::testing::WithParamInterface<RoutingCase> {};

TEST_P(ProcessRoutingTest, SendsStandardOutputWhereRouted) {
  const fs::path out = home_.root() / "out";
  const fs::path err = home_.root() / "err";
  test::writeFile(out, "");
  test::writeFile(err, "");
  std::fflush(nullptr);
  const int savedOut = ::dup(STDOUT_FILENO);
  const int savedErr = ::dup(STDERR_FILENO);
  const int outFile = ::open(out.c_str(), O_WRONLY | O_CLOEXEC);
  const int errFile = ::open(err.c_str(), O_WRONLY | O_CLOEXEC);
  ::dup2(outFile, STDOUT_FILENO);
  ::dup2(errFile, STDERR_FILENO);
  Process process("/bin/sh", {"-c", "echo listing; echo trouble >&2"});
  process.setStandardOutput(GetParam().routing);
  process.run();
  const auto status = process.waitUntilExit();
  ::dup2(savedOut, STDOUT_FILENO);
  ::dup2(savedErr, STDERR_FILENO);
  for (const int fd : {savedOut, savedErr, outFile, errFile}) ::close(fd);

  EXPECT_EQ(status, (TerminationStatus{TerminationStatus::Reason::exit, 0}));
  EXPECT_EQ(test::readFile(out), GetParam().expectedOut);
  EXPECT_EQ(test::readFile(err), GetParam().expectedErr);
}

INSTANTIATE_TEST_SUITE_P(
    Routings, ProcessRoutingTest,
    ::testing::Values(RoutingCase{"Inherited", Process::OutputRouting::inherited, "listing\n",
                                  "trouble\n"},
                      RoutingCase{"ToStandardError", Process::OutputRouting::toStandardError, "",
                                  "listing\ntrouble\n"},
                      RoutingCase{"Discarded", Process::OutputRouting::discarded, "", "trouble\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProcessTest, ReportsExitCodesAndSignals) {
  Process failing("/bin/sh", {"-c", "exit 9"});
  failing.run();
  EXPECT_EQ(failing.waitUntilExit(), (TerminationStatus{TerminationStatus::Reason::exit, 9}));
  EXPECT_EQ(failing.waitUntilExit().description(), "exit status 9");
  Process killed("/bin/sh", {"-c", "kill -KILL $$"});
  killed.run();
  const auto status = killed.waitUntilExit();
  EXPECT_EQ(status, (TerminationStatus{TerminationStatus::Reason::uncaughtSignal, SIGKILL}));
  EXPECT_EQ(status.description(), "signal 9 (Killed)");
}

TEST_F(ProcessTest, LaunchErrorsCarryTheChildsErrnoAndPath) {
  const fs::path missing = home_.root() / "no such tool";
  const auto notFound =
      test::thrownBy<SystemError>("run() of a missing tool", [&] { Process(missing, {}).run(); });
  EXPECT_EQ(notFound.code(), ENOENT);
  EXPECT_EQ(notFound.path(), missing);  // the message's format is FileManagerTests'

  test::writeFile(home_.root() / "plain", "#!/bin/sh\n", fs::perms(0644));
  EXPECT_EQ(test::thrownBy<SystemError>("run() of a file that is no program",
                                        [&] { Process(home_.root() / "plain", {}).run(); })
                .code(),
            EACCES);

  const auto badFolder = test::thrownBy<SystemError>(
      "run() in a missing folder", [&] { Process(recorder_, {}, home_.root() / "gone").run(); });
  EXPECT_EQ(badFolder.code(), ENOENT);
  EXPECT_EQ(badFolder.path(), home_.root() / "gone");
  EXPECT_FALSE(fs::exists(record_));
  EXPECT_EQ(test::thrownBy<SystemError>("launchDetached() of a missing tool",
                                        [&] { Process::launchDetached(missing, {}); })
                .code(),
            ENOENT);
}

TEST_F(ProcessTest, DetachedChildOutlivesItsStarterInANewSessionAndLeavesNoZombie) {
  test::writeFile(recorder_, FakeRuntime::script(record_, std::chrono::milliseconds(300)),
                  fs::perms(0755));
  // The starter is a process of its own that exits right after the launch.
  const pid_t starter = ::fork();
  ASSERT_GE(starter, 0);
  if (starter == 0) {
    try {
      Process::launchDetached(recorder_, {"x"}, home_.home());
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(starter, &status, 0), starter);
  EXPECT_EQ(WEXITSTATUS(status), 0);  // 2 would mean the intermediate child was not reaped
  const auto record = FakeRuntime::waitForRecord(record_);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->arguments, std::vector<std::string>{"x"});
}

// A stand-in program that lists the descriptors it was started with: `ls` run in the
// child's place, whose own listing adds only the folder it reads (3).
TEST_F(ProcessTest, ChildrenInheritOnlyTheStandardStreams) {
  int leaked[2];
  ASSERT_EQ(::pipe(leaked), 0);  // no O_CLOEXEC, like the sockets libcurl opens
  const fs::path listing = home_.root() / "fds";
  const fs::path detachedListing = home_.root() / "fds-detached";
  const std::string lister = "exec ls /proc/self/fd > \"$1\"";
  Process process("/bin/sh", {"-c", lister, "sh", listing.string()});
  process.run();
  process.waitUntilExit();
  Process::launchDetached("/bin/sh", {"-c", lister, "sh", detachedListing.string()});
  ::close(leaked[0]);
  ::close(leaked[1]);
  const std::string onlyStandardStreams = "0\n1\n2\n3\n";
  EXPECT_EQ(test::readFile(listing), onlyStandardStreams);
  ASSERT_TRUE(test::waitUntil(
      [&] { return fs::exists(detachedListing) && !test::readFile(detachedListing).empty(); }));
  EXPECT_EQ(test::readFile(detachedListing), onlyStandardStreams);
}

}  // namespace
}  // namespace tolvane::platform
