#include "Platform/ForwardedError.h"

#include <utility>

#include "Platform/Fatal.h"
namespace tolvane::platform {

ForwardedError::ForwardedError(ErrorPtr error) : error_(std::move(error)) {}

void ForwardedError::raise() const { throw *this; }

void throwError(const ErrorPtr& error) {
  TOLVANE_CHECK(error, "tolvane: throwError called without an error");
  if (const auto* throwable = dynamic_cast<const ErrorException*>(error.get())) {
    throwable->raise();
  }
  throw ForwardedError(error);
}

}  // namespace tolvane::platform
