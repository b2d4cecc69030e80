#pragma once

#include "Platform/Error.h"
#include "Platform/ErrorException.h"

namespace tolvane::platform {

// Base for error types that are thrown directly (SystemError, the installer's
// ResourceError): the type is both an Error value and an ErrorException.
template <typename Derived>
class ThrowableError : public Error, public ErrorException {
 public:
  [[nodiscard]] ErrorPtr error() const override {
    return makeError(static_cast<const Derived&>(*this));
  }

  [[noreturn]] void raise() const override { throw static_cast<const Derived&>(*this); }

 protected:
  ThrowableError() = default;
};

}  // namespace tolvane::platform
