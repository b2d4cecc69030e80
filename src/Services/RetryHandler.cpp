#include "Services/RetryHandler.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "HTTP/Core/Request.h"
#include "Installer/ResourceError.h"

namespace tolvane {
namespace {

// An override from the environment; anything but a plain finite non-negative number is
// ignored, so a typo can never turn a delay negative or into a busy loop of NaNs.
std::optional<double> secondsFromEnvironment(const char* variable) {
  const char* text = std::getenv(variable);
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
  return std::make_shared<RetryHandler>(
      kRetryLimit, secondsFromEnvironment(kRetryDelayVariable).value_or(kRetryDelay));
}

std::optional<double> RetryHandler::requestTimeoutOverride() {
  // Zero would mean "the transport's default" further down, not "no time at all".
  const auto seconds = secondsFromEnvironment(kRequestTimeoutVariable);
  if (seconds && *seconds > 0) return seconds;
  return std::nullopt;
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
