#include "Platform/TerminationStatus.h"

#include <sys/wait.h>

#include <cstring>

namespace tolvane::platform {

std::string TerminationStatus::description() const {
  if (reason == Reason::exit) return "exit status " + std::to_string(status);
  const char* name = sigdescr_np(status);
  return "signal " + std::to_string(status) +
         (name != nullptr ? " (" + std::string(name) + ")" : "");
}

TerminationStatus TerminationStatus::fromWaitStatus(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) return {Reason::uncaughtSignal, WTERMSIG(waitStatus)};
  return {Reason::exit, WEXITSTATUS(waitStatus)};
}

}  // namespace tolvane::platform
