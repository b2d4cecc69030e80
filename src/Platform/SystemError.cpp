#include "Platform/SystemError.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace tolvane::platform {

SystemError::SystemError(int code, std::string operation, std::optional<std::filesystem::path> path,
                         std::optional<std::filesystem::path> otherPath)
    : code_(code),
      operation_(std::move(operation)),
      path_(std::move(path)),
      otherPath_(std::move(otherPath)) {}

SystemError SystemError::fromErrno(std::string operation, std::optional<std::filesystem::path> path,
                                   std::optional<std::filesystem::path> otherPath) {
  return SystemError(errno, std::move(operation), std::move(path), std::move(otherPath));
}

std::string SystemError::systemMessage(int code) {
  char buffer[256];
  // GNU strerror_r: returns either our buffer or a static string, never fails.
  return strerror_r(code, buffer, sizeof buffer);
}

std::string SystemError::localizedDescription() const {
  std::string text = systemMessage(code_);
  if (path_) {
    text += ": \"" + path_->string() + "\"";
    if (otherPath_) {
      text += " -> \"" + otherPath_->string() + "\"";
    }
  }
  return text;
}

std::string SystemError::debugDescription() const {
  return operation_ + ": " + localizedDescription();
}

}  // namespace tolvane::platform
