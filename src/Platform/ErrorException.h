#pragma once

#include <exception>
#include <string>

#include "Platform/Error.h"

namespace tolvane::platform {

// The common base of everything the program throws as an error. Catching it is how a
// caller takes "any error" and keeps it as a value (error()), whatever layer raised it.
class ErrorException : public std::exception {
 public:
  // The thrown error as a shared value with its dynamic type intact.
  [[nodiscard]] virtual ErrorPtr error() const = 0;

  // Throws a copy of this error as its own most-derived type, so that an error that
  // travelled as an ErrorPtr can be caught by its type again.
  [[noreturn]] virtual void raise() const = 0;

  // The error's own description, composed on first use. An exception is read by the
  // thread that caught it, so the cache takes no lock.
  [[nodiscard]] const char* what() const noexcept override;

 private:
  mutable std::string what_;
};

// Throws `error`: as its own type when it is a throwable error type, otherwise wrapped in
// ForwardedError. A null error is a programming error and stops the process.
[[noreturn]] void throwError(const ErrorPtr& error);

}  // namespace tolvane::platform
