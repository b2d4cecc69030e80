#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Platform/TerminationStatus.h"

namespace tolvane::platform {

// A child process: an executable started directly with an argument list (never through a
// shell) and, optionally, another current folder. The child inherits the environment and
// the standard streams, and no other descriptor. Launch errors (executable missing or not
// executable, bad current folder) come back from the child and are thrown as SystemError with the
// child's errno.
//
// A Process object is used from one thread. A child that was started and not yet waited
// for is waited for when the object is destroyed, so no zombie is left behind.
class Process {
 public:
  // Where the child's standard output goes; its standard error is always inherited.
  enum class OutputRouting { inherited, toStandardError, discarded };

  Process(std::filesystem::path executableURL, std::vector<std::string> arguments,
          std::optional<std::filesystem::path> currentDirectoryURL = std::nullopt);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Before run(); inherited by default.
  void setStandardOutput(OutputRouting routing) { outputRouting_ = routing; }

  // Starts the child; returns once it runs the executable. Throws SystemError. At most once.
  void run();

  // Blocks until the child has exited and returns how it ended. Calling it again returns
  // the same status. Throws std::logic_error when the process was never started.
  TerminationStatus waitUntilExit();

  [[nodiscard]] pid_t processIdentifier() const { return pid_; }

  // Starts the program as an independent process: it gets its own session, is reparented
  // away from us (so it survives our exit and leaves no zombie), and is never waited for.
  // Throws SystemError when it cannot be started.
  static void launchDetached(
      const std::filesystem::path& executableURL, const std::vector<std::string>& arguments,
      const std::optional<std::filesystem::path>& currentDirectoryURL = std::nullopt);

 private:
  std::filesystem::path executableURL_;
  std::vector<std::string> arguments_;
  std::optional<std::filesystem::path> currentDirectoryURL_;
  OutputRouting outputRouting_ = OutputRouting::inherited;
  pid_t pid_ = -1;
  std::optional<TerminationStatus> status_;
};

}  // namespace tolvane::platform
