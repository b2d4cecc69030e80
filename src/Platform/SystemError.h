#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/ThrowableError.h"

namespace tolvane::platform {

// A failed operating-system call: its errno, what we were doing and the path(s) involved.
// Its localized description is the system's error text followed by the path(s), e.g.
//   No such file or directory: "/home/u/Tolvane/java.zip"
//   File exists: "/a/java.zip" -> "/home/u/Tolvane/java.zip"   (two-path operations)
class SystemError final : public ThrowableError<SystemError> {
 public:
  SystemError(int code, std::string operation, std::optional<std::filesystem::path> path = {},
              std::optional<std::filesystem::path> otherPath = {});

  // Builds the error from the current errno.
  static SystemError fromErrno(std::string operation,
                               std::optional<std::filesystem::path> path = {},
                               std::optional<std::filesystem::path> otherPath = {});

  [[nodiscard]] int code() const { return code_; }
  [[nodiscard]] const std::string& operation() const { return operation_; }
  [[nodiscard]] const std::optional<std::filesystem::path>& path() const { return path_; }
  [[nodiscard]] const std::optional<std::filesystem::path>& otherPath() const { return otherPath_; }

  [[nodiscard]] std::string localizedDescription() const override;
  // The operation, then the localized description: "copy: File exists: ...".
  [[nodiscard]] std::string debugDescription() const override;

  // The system's text for an errno value (thread-safe).
  static std::string systemMessage(int code);

 private:
  int code_;
  std::string operation_;
  std::optional<std::filesystem::path> path_;
  std::optional<std::filesystem::path> otherPath_;
};

}  // namespace tolvane::platform
