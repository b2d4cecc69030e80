#pragma once

#include <string>

#include "Platform/ThrowableError.h"

namespace tolvane::platform {

// Decoding a value from JSON failed: not JSON at all, a required key missing or null, or a
// value of the wrong type. The localized description is the platform's generic wording;
// the detail (which key, what was expected) is in debugDescription().
class DecodingError final : public ThrowableError<DecodingError> {
 public:
  enum class Kind { dataCorrupted, keyNotFound, valueNotFound, typeMismatch };

  DecodingError(Kind kind, std::string detail);

  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] const std::string& detail() const { return detail_; }

  [[nodiscard]] std::string localizedDescription() const override;
  [[nodiscard]] std::string debugDescription() const override;

 private:
  Kind kind_;
  std::string detail_;
};

}  // namespace tolvane::platform
