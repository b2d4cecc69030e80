#include "HTTP/Retry/RetryPolicy.h"

#include <cmath>

#include "HTTP/Core/Request.h"
#include "Platform/Fatal.h"

namespace tolvane::http {

using platform::URLError;

std::unordered_set<HTTPMethod> RetryPolicy::defaultRetryableHTTPMethods() {
  return {HTTPMethod::delete_, HTTPMethod::get, HTTPMethod::head,
          HTTPMethod::options, HTTPMethod::put, HTTPMethod::trace};
}

std::set<int> RetryPolicy::defaultRetryableHTTPStatusCodes() { return {408, 500, 502, 503, 504}; }

std::set<URLError::Code> RetryPolicy::defaultRetryableURLErrorCodes() {
  // Transient network conditions only: cancellation, malformed URLs, authentication and
  // untrusted certificates would fail the same way again. The background-session and
  // cellular codes never come from this transport but keep their platform values, so the
  // list means the same everywhere.
  constexpr auto backgroundSessionInUseByAnotherProcess = static_cast<URLError::Code>(-996);
  constexpr auto backgroundSessionWasDisconnected = static_cast<URLError::Code>(-997);
  constexpr auto internationalRoamingOff = static_cast<URLError::Code>(-1018);
  constexpr auto callIsActive = static_cast<URLError::Code>(-1019);
  constexpr auto dataNotAllowed = static_cast<URLError::Code>(-1020);
  return {backgroundSessionInUseByAnotherProcess,
          backgroundSessionWasDisconnected,
          URLError::badServerResponse,
          callIsActive,
          URLError::cannotConnectToHost,
          URLError::cannotFindHost,
          URLError::cannotLoadFromNetwork,
          dataNotAllowed,
          URLError::dnsLookupFailed,
          URLError::downloadDecodingFailedMidStream,
          URLError::downloadDecodingFailedToComplete,
          internationalRoamingOff,
          URLError::networkConnectionLost,
          URLError::notConnectedToInternet,
          URLError::secureConnectionFailed,
          URLError::serverCertificateHasBadDate,
          URLError::serverCertificateNotYetValid,
          URLError::timedOut};
}

RetryPolicy::RetryPolicy(unsigned retryLimit, unsigned exponentialBackoffBase,
                         double exponentialBackoffScale,
                         std::unordered_set<HTTPMethod> retryableHTTPMethods,
                         std::set<int> retryableHTTPStatusCodes,
                         std::set<URLError::Code> retryableURLErrorCodes)
    : retryLimit_(retryLimit),
      exponentialBackoffBase_(exponentialBackoffBase),
      exponentialBackoffScale_(exponentialBackoffScale),
      retryableHTTPMethods_(std::move(retryableHTTPMethods)),
      retryableHTTPStatusCodes_(std::move(retryableHTTPStatusCodes)),
      retryableURLErrorCodes_(std::move(retryableURLErrorCodes)) {
  TOLVANE_CHECK(exponentialBackoffBase_ >= 2,
                "The `exponentialBackoffBase` must be a minimum of 2.");
}

const std::shared_ptr<RetryPolicy>& RetryPolicy::defaultPolicy() {
  static const auto policy = std::make_shared<RetryPolicy>();
  return policy;
}

void RetryPolicy::retry(const std::shared_ptr<Request>& request,
                        const std::shared_ptr<Session>& /*session*/, const HTTPError& error,
                        RequestRetrier::Completion completion) {
  const int count = request->retryCount();
  if (count >= 0 && static_cast<unsigned>(count) < retryLimit_ && isRetryable(*request, error)) {
    const double delay = std::pow(static_cast<double>(exponentialBackoffBase_),
                                  static_cast<double>(request->retryCount())) *
                         exponentialBackoffScale_;
    completion(RetryResult::retryWithDelay(delay));
  } else {
    completion(RetryResult::doNotRetry());
  }
}

bool RetryPolicy::isRetryable(const Request& request, const HTTPError& error) const {
  const auto urlRequest = request.lastRequest();
  if (!urlRequest || !retryableHTTPMethods_.contains(HTTPMethod(urlRequest->httpMethod)))
    return false;
  if (const auto response = request.response();
      response && retryableHTTPStatusCodes_.contains(response->statusCode)) {
    return true;
  }
  // The error handed to retriers is always the layer's own; the transport's code, if any,
  // is the error underneath it.
  const auto underlying = std::dynamic_pointer_cast<const URLError>(error.underlyingError());
  return underlying && retryableURLErrorCodes_.contains(underlying->code());
}

}  // namespace tolvane::http
