#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::test {

// A program started with the test's environment, its stdout and stderr going to
// "<folder>/<name>.out" and ".err". The destructor kills and reaps it if still running.
class ChildProgram {
 public:
  ChildProgram(const std::filesystem::path& executable, std::vector<std::string> arguments,
               const std::filesystem::path& folder, const std::string& name);
  ~ChildProgram();
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  // The exit status once the child has exited by itself within `timeout`; nothing while it
  // runs or when a signal ended it.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);
  [[nodiscard]] bool isRunning() { return !waitForExit(std::chrono::milliseconds(0)) && !reaped_; }
  void signal(int number) const;
  [[nodiscard]] std::string standardOutput() const;
  [[nodiscard]] std::string standardError() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::optional<int> exitStatus_;
  std::filesystem::path out_;
  std::filesystem::path err_;
};

// What a shell command prints on stdout (for the X11 tools of the smoke test).
std::string commandOutput(const std::string& command, int* exitStatus = nullptr);

}  // namespace tolvane::test
