#include "Platform/Error.h"

#include "Platform/Localization.h"

namespace tolvane::platform {

std::string genericErrorDescription(std::string_view domain, int code) {
  const std::string number = std::to_string(code);
  return localized(
      "The operation couldn\u2019t be completed. (" + std::string(domain) + " error " + number +
          ".)",
      "Не удалось завершить операцию. (" + std::string(domain) + ", ошибка " + number + ".)");
}

}  // namespace tolvane::platform
