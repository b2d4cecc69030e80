#include "Platform/ProcessTerminationError.h"

#include <utility>

namespace tolvane::platform {

ProcessTerminationError::ProcessTerminationError(std::filesystem::path executableURL,
                                                 TerminationStatus status)
    : executableURL_(std::move(executableURL)), status_(status) {}

std::string ProcessTerminationError::localizedDescription() const {
  return "\"" + executableURL_.string() + "\" ended with " + status_.description();
}

}  // namespace tolvane::platform
