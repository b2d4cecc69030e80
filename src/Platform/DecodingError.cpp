#include "Platform/DecodingError.h"

#include <utility>

#include "Platform/Localization.h"

namespace tolvane::platform {

DecodingError::DecodingError(Kind kind, std::string detail)
    : kind_(kind), detail_(std::move(detail)) {}

std::string DecodingError::localizedDescription() const {
  switch (kind_) {
    case Kind::keyNotFound:
    case Kind::valueNotFound:
      return localized("The data couldn’t be read because it is missing.",
                       "Не удалось прочитать данные, так как они отсутствуют.");
    case Kind::dataCorrupted:
    case Kind::typeMismatch:
      break;
  }
  return localized("The data couldn’t be read because it isn’t in the correct format.",
                   "Не удалось прочитать данные, так как их формат неверен.");
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
