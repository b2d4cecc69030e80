#pragma once

#include <string>

namespace tolvane::platform {

// How a child process ended: its exit code, or the signal that killed it.
struct TerminationStatus {
  enum class Reason { exit, uncaughtSignal };

  Reason reason = Reason::exit;
  int status = 0;  // the exit code, or the signal number

  [[nodiscard]] bool succeeded() const { return reason == Reason::exit && status == 0; }

  // "exit status 9" or "signal 9 (Killed)".
  [[nodiscard]] std::string description() const;

  // Decodes a wait status as returned by waitpid().
  static TerminationStatus fromWaitStatus(int waitStatus);

  friend bool operator==(const TerminationStatus&, const TerminationStatus&) = default;
};

}  // namespace tolvane::platform
