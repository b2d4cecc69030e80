#pragma once

#include "Platform/ErrorException.h"

namespace tolvane::platform {

// Carries an error of a type that is not itself thrown (a transport error, the HTTP
// layer's error) up through a throw, unchanged.
class ForwardedError final : public ErrorException {
 public:
  explicit ForwardedError(ErrorPtr error);

  [[nodiscard]] ErrorPtr error() const override { return error_; }
  [[noreturn]] void raise() const override;

 private:
  ErrorPtr error_;
};

}  // namespace tolvane::platform
