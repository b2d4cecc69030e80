#pragma once

#include <utility>

#include "Platform/Error.h"

namespace tolvane::http {

// A validation's verdict: success, or failure with any error (the layer stores a non-HTTP
// error as customValidationFailed). Plain value.
class ValidationResult {
 public:
  [[nodiscard]] static ValidationResult success() { return ValidationResult(nullptr); }
  [[nodiscard]] static ValidationResult failure(platform::ErrorPtr error) {
    return ValidationResult(std::move(error));
  }

  [[nodiscard]] bool isSuccess() const { return error_ == nullptr; }
  // Null on success.
  [[nodiscard]] const platform::ErrorPtr& error() const { return error_; }

 private:
  explicit ValidationResult(platform::ErrorPtr error) : error_(std::move(error)) {}
  platform::ErrorPtr error_;
};

}  // namespace tolvane::http
