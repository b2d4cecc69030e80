#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "Platform/FileDescriptor.h"
#include "Support/TemporaryDirectory.h"
#include "Tools/TestFiles.h"

extern char** environ;

namespace tolvane::tools {
namespace {

namespace fs = std::filesystem;
using platform::FileDescriptor;

// `tolvane-update-server serve --root <root> --http` as a child with its standard output
// on a pipe; killed and reaped on destruction if a test leaves it running.
class ServerProcess {
 public:
  explicit ServerProcess(const fs::path& root) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
    output_.reset(fds[0]);
    const FileDescriptor writeEnd(fds[1]);
    std::string program = (fs::path(TOLVANE_BINARY_DIR) / "bin" / "tolvane-update-server").string();
    std::string serve = "serve", rootOption = "--root", rootPath = root.string(), http = "--http";
    char* argv[] = {program.data(), serve.data(), rootOption.data(), rootPath.data(), http.data(),
                    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    const int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      throw std::runtime_error("cannot start " + program);
    }
  }
  ~ServerProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // The first line of standard output; what there is when the program ends before one.
  std::string firstLine() {
    std::string line;
    char c = 0;
    while (::read(output_.get(), &c, 1) == 1 && c != '\n') {
      line.push_back(c);
    }
    return line;
  }

  // The raw wait status after sending `signal`.
  int stop(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  FileDescriptor output_;
};

// The program itself: its signal handling lives in main, outside the library.
class UpdateServerProgram : public ::testing::TestWithParam<int> {};

TEST_P(UpdateServerProgram, ServesUntilSignalledThenExitsCleanly) {
  test::TemporaryDirectory temp;
  test::writeFile(temp.path() / "loaderv3.php", R"({"files":[]})");
  ServerProcess server(temp.path());
  const std::string line = server.firstLine();
  const std::string prefix = "listening on http://127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;

  httplib::Client client("127.0.0.1", std::stoi(line.substr(prefix.size())));
  const auto response = client.Get("/loaderv3.php?os=macos&os=macos");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, R"({"files":[]})");

  const int status = server.stop(GetParam());
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

INSTANTIATE_TEST_SUITE_P(StopSignals, UpdateServerProgram, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

}  // namespace
}  // namespace tolvane::tools
