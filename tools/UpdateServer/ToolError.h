#pragma once

#include <string>

#include "Platform/ThrowableError.h"

namespace tolvane::tools {

// A failure of tolvane-update-server that ends the command: its message for the operator
// and the process exit status it stands for (2 for a refused request or bad usage, 1 for
// anything that went wrong while carrying out a valid one).
class ToolError final : public platform::ThrowableError<ToolError> {
 public:
  static constexpr int kUsageExitCode = 2;
  static constexpr int kFailureExitCode = 1;

  ToolError(std::string message, int exitCode)
      : message_(std::move(message)), exitCode_(exitCode) {}

  static ToolError usage(std::string message) { return {std::move(message), kUsageExitCode}; }
  static ToolError failure(std::string message) { return {std::move(message), kFailureExitCode}; }

  [[nodiscard]] int exitCode() const { return exitCode_; }
  [[nodiscard]] std::string localizedDescription() const override { return message_; }

 private:
  std::string message_;
  int exitCode_;
};

}  // namespace tolvane::tools
