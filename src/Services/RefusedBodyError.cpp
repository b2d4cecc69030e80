#include "Services/RefusedBodyError.h"

#include <utility>

#include "Platform/Localization.h"

namespace tolvane {

RefusedBodyError::RefusedBodyError(Reason reason, std::string detail)
    : reason_(reason), detail_(std::move(detail)) {}

std::string RefusedBodyError::localizedDescription() const {
  switch (reason_) {
    case Reason::notAJavaArchive:
      return platform::localized("The downloaded file is not a Java archive.",
                                 "Загруженный файл не является Java-архивом.");
  }
  return {};
}

std::string RefusedBodyError::debugDescription() const {
  const char* name = "";
  switch (reason_) {
    case Reason::notAJavaArchive:
      name = "notAJavaArchive";
      break;
  }
  return std::string(name) + ": " + detail_;
}

}  // namespace tolvane
