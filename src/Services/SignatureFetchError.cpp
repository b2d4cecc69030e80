#include "Services/SignatureFetchError.h"

#include <utility>

#include "Platform/Localization.h"

namespace tolvane {

SignatureFetchError::SignatureFetchError(platform::ErrorPtr cause) : cause_(std::move(cause)) {}

std::string SignatureFetchError::localizedDescription() const {
  return platform::localized("The release's signature could not be fetched: ",
                             "Не удалось загрузить подпись выпуска: ") +
         (cause_ ? cause_->localizedDescription() : std::string());
}

std::string SignatureFetchError::debugDescription() const {
  return "The release's signature could not be fetched: " +
         (cause_ ? cause_->debugDescription() : std::string());
}

}  // namespace tolvane
