#include "Platform/DecodingError.h"

#include <utility>

namespace tolvane::platform {

DecodingError::DecodingError(Kind kind, std::string detail)
    : kind_(kind), detail_(std::move(detail)) {}

std::string DecodingError::localizedDescription() const {
  switch (kind_) {
    case Kind::keyNotFound:
    case Kind::valueNotFound:
      return "The data couldn’t be read because it is missing.";
    case Kind::dataCorrupted:
    case Kind::typeMismatch:
      break;
  }
  return "The data couldn’t be read because it isn’t in the correct format.";
}

std::string DecodingError::debugDescription() const {
  const char* name = "dataCorrupted";
  switch (kind_) {
    case Kind::dataCorrupted:
      name = "dataCorrupted";
      break;
    case Kind::keyNotFound:
      name = "keyNotFound";
      break;
    case Kind::valueNotFound:
      name = "valueNotFound";
      break;
    case Kind::typeMismatch:
      name = "typeMismatch";
      break;
  }
  return std::string(name) + ": " + detail_;
}

}  // namespace tolvane::platform
