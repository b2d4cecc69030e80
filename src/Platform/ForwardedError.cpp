#include "Platform/ForwardedError.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tolvane::platform {

ForwardedError::ForwardedError(ErrorPtr error) : error_(std::move(error)) {}

void ForwardedError::raise() const { throw *this; }

void throwError(const ErrorPtr& error) {
  if (!error) {
    std::fputs("tolvane: throwError called without an error\n", stderr);
    std::abort();
  }
  if (const auto* throwable = dynamic_cast<const ErrorException*>(error.get())) {
    throwable->raise();
  }
  throw ForwardedError(error);
}

}  // namespace tolvane::platform
