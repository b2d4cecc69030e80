#include "Support/ChildProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>

#include "Support/TemporaryHome.h"

extern char** environ;

namespace tolvane::test {

ChildProgram::ChildProgram(const std::filesystem::path& executable,
                           std::vector<std::string> arguments, const std::filesystem::path& folder,
                           const std::string& name)
    : out_(folder / (name + ".out")), err_(folder / (name + ".err")) {
  std::filesystem::create_directories(folder);
  arguments.insert(arguments.begin(), executable.string());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + executable.string());
}

ChildProgram::~ChildProgram() {
  if (reaped_) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::optional<int> ChildProgram::waitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (int status = 0; !reaped_; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      if (WIFEXITED(status)) exitStatus_ = WEXITSTATUS(status);
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    }
  }
  return exitStatus_;
}

void ChildProgram::signal(int number) const {
  if (!reaped_) kill(pid_, number);
}

std::string ChildProgram::standardOutput() const { return readFile(out_); }
std::string ChildProgram::standardError() const { return readFile(err_); }

std::string commandOutput(const std::string& command, int* exitStatus) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string output;
  char buffer[4096];
  for (std::size_t count; (count = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
    output.append(buffer, count);
  const int status = pclose(pipe.release());
  if (exitStatus != nullptr) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

}  // namespace tolvane::test
