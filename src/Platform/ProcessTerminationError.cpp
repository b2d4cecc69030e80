#include "Platform/ProcessTerminationError.h"

#include <cstring>
#include <utility>

#include "Platform/Localization.h"

namespace tolvane::platform {

ProcessTerminationError::ProcessTerminationError(std::filesystem::path executableURL,
                                                 TerminationStatus status)
    : executableURL_(std::move(executableURL)), status_(status) {}

std::string ProcessTerminationError::localizedDescription() const {
  if (userLanguage() != Language::russian)
    return "\"" + executableURL_.string() + "\" ended with " + status_.description();
  const std::string process = "Процесс «" + executableURL_.string() + "» завершился ";
  if (status_.reason == TerminationStatus::Reason::exit)
    return process + "с кодом " + std::to_string(status_.status);
  // The signal's English description has no Russian counterpart here; its name needs none.
  const char* name = sigabbrev_np(status_.status);
  return process + "по сигналу " + std::to_string(status_.status) +
         (name != nullptr ? " (SIG" + std::string(name) + ")" : "");
}

}  // namespace tolvane::platform
