#pragma once

#include <filesystem>

#include "Platform/TerminationStatus.h"
#include "Platform/ThrowableError.h"

namespace tolvane::platform {

// A child process ran but did not succeed: it exited with a non-zero status or was killed
// by a signal. Described as, e.g., "/usr/bin/unzip" ended with exit status 9, or in Russian
// as Процесс «/usr/bin/unzip» завершился с кодом 9.
class ProcessTerminationError final : public ThrowableError<ProcessTerminationError> {
 public:
  ProcessTerminationError(std::filesystem::path executableURL, TerminationStatus status);

  [[nodiscard]] const std::filesystem::path& executableURL() const { return executableURL_; }
  [[nodiscard]] const TerminationStatus& status() const { return status_; }

  [[nodiscard]] std::string localizedDescription() const override;

 private:
  std::filesystem::path executableURL_;
  TerminationStatus status_;
};

}  // namespace tolvane::platform
