#include "Services/RetryHandler.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "HTTP/Core/Request.h"
#include "Installer/ResourceError.h"

namespace tolvane {
namespace {

// The override from the environment; anything but a plain finite non-negative number is
// ignored, so a typo can never turn the delay negative or into a busy loop of NaNs.
std::optional<double> delayOverride() {
  const char* text = std::getenv(RetryHandler::kRetryDelayVariable);
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value) || value < 0) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::shared_ptr<RetryHandler> RetryHandler::make() {
  return std::make_shared<RetryHandler>(kRetryLimit, delayOverride().value_or(kRetryDelay));
}

RetryHandler::RetryHandler(int retryLimit, double retryDelay)
    : retryLimit_(retryLimit), retryDelay_(retryDelay) {}

void RetryHandler::adapt(const platform::URLRequest& urlRequest,
                         const std::shared_ptr<http::Session>& /*session*/,
                         http::RequestAdapter::Completion completion) {
  completion(urlRequest);
}

void RetryHandler::retry(const std::shared_ptr<http::Request>& request,
                         const std::shared_ptr<http::Session>& /*session*/,
                         const http::HTTPError& error,
                         http::RequestRetrier::Completion completion) {
  if (request->retryCount() < retryLimit_) {
    completion(http::RetryResult::retryWithDelay(retryDelay_));
    return;
  }
  completion(http::RetryResult::doNotRetryWithError(
      platform::makeError(ResourceError::timeoutRequest(platform::makeError(error)))));
}

}  // namespace tolvane
