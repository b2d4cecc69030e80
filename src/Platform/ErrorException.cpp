#include "Platform/ErrorException.h"

namespace tolvane::platform {

const char* ErrorException::what() const noexcept {
  if (what_.empty()) {
    try {
      const ErrorPtr value = error();
      what_ = value ? value->localizedDescription() : std::string("unknown error");
    } catch (...) {
      return "error (its description could not be composed)";
    }
  }
  return what_.c_str();
}

}  // namespace tolvane::platform
