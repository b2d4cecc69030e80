#pragma once

#include <memory>
#include <set>
#include <unordered_set>

#include "HTTP/Core/HTTPMethod.h"
#include "HTTP/Core/RequestInterceptor.h"
#include "Platform/URLError.h"

namespace tolvane::http {

// A retrier with exponential back-off: a request is tried again while its retry count is
// below the limit and the failure looks transient (an idempotent method and a retryable
// status code or transport error code). The n-th retry waits scale * base^n seconds. It
// counts nothing itself (the request's retryCount does) and is immutable, so one policy
// may serve any number of requests from any thread.
class RetryPolicy : public RequestInterceptor {
 public:
  static constexpr unsigned kDefaultRetryLimit = 2;
  static constexpr unsigned kDefaultExponentialBackoffBase = 2;
  static constexpr double kDefaultExponentialBackoffScale = 0.5;

  [[nodiscard]] static std::unordered_set<HTTPMethod> defaultRetryableHTTPMethods();
  [[nodiscard]] static std::set<int> defaultRetryableHTTPStatusCodes();
  [[nodiscard]] static std::set<platform::URLError::Code> defaultRetryableURLErrorCodes();

  // A base below 2 stops the process: the delays would not grow.
  explicit RetryPolicy(
      unsigned retryLimit = kDefaultRetryLimit,
      unsigned exponentialBackoffBase = kDefaultExponentialBackoffBase,
      double exponentialBackoffScale = kDefaultExponentialBackoffScale,
      std::unordered_set<HTTPMethod> retryableHTTPMethods = defaultRetryableHTTPMethods(),
      std::set<int> retryableHTTPStatusCodes = defaultRetryableHTTPStatusCodes(),
      std::set<platform::URLError::Code> retryableURLErrorCodes = defaultRetryableURLErrorCodes());

  // A shared policy with every default.
  [[nodiscard]] static const std::shared_ptr<RetryPolicy>& defaultPolicy();

  [[nodiscard]] unsigned retryLimit() const { return retryLimit_; }
  [[nodiscard]] unsigned exponentialBackoffBase() const { return exponentialBackoffBase_; }
  [[nodiscard]] double exponentialBackoffScale() const { return exponentialBackoffScale_; }
  [[nodiscard]] const std::unordered_set<HTTPMethod>& retryableHTTPMethods() const {
    return retryableHTTPMethods_;
  }
  [[nodiscard]] const std::set<int>& retryableHTTPStatusCodes() const {
    return retryableHTTPStatusCodes_;
  }
  [[nodiscard]] const std::set<platform::URLError::Code>& retryableURLErrorCodes() const {
    return retryableURLErrorCodes_;
  }

  void retry(const std::shared_ptr<Request>& request, const std::shared_ptr<Session>& session,
             const HTTPError& error, RequestRetrier::Completion completion) override;

  // Whether the failure of `request` with `error` is worth another attempt.
  [[nodiscard]] virtual bool isRetryable(const Request& request, const HTTPError& error) const;

 private:
  unsigned retryLimit_;
  unsigned exponentialBackoffBase_;
  double exponentialBackoffScale_;
  std::unordered_set<HTTPMethod> retryableHTTPMethods_;
  std::set<int> retryableHTTPStatusCodes_;
  std::set<platform::URLError::Code> retryableURLErrorCodes_;
};

}  // namespace tolvane::http
