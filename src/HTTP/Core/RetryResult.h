#pragma once

#include <optional>
#include <variant>

#include "Platform/Error.h"

namespace tolvane::http {

// A retrier's answer after a failed attempt: retry now, retry after a delay, finish with
// the request's own error, or finish with another error. Plain value.
class RetryResult {
 public:
  enum class Kind { retry, retryWithDelay, doNotRetry, doNotRetryWithError };

  [[nodiscard]] static RetryResult retry() { return RetryResult(Kind::retry); }
  [[nodiscard]] static RetryResult retryWithDelay(double seconds) {
    RetryResult result(Kind::retryWithDelay);
    result.delay_ = seconds;
    return result;
  }
  [[nodiscard]] static RetryResult doNotRetry() { return RetryResult(Kind::doNotRetry); }
  [[nodiscard]] static RetryResult doNotRetryWithError(platform::ErrorPtr error) {
    RetryResult result(Kind::doNotRetryWithError);
    result.error_ = std::move(error);
    return result;
  }

  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] bool retryRequired() const {
    return kind_ == Kind::retry || kind_ == Kind::retryWithDelay;
  }
  // The payload of retryWithDelay; none otherwise.
  [[nodiscard]] std::optional<double> delay() const { return delay_; }
  // The payload of doNotRetryWithError; null otherwise.
  [[nodiscard]] const platform::ErrorPtr& error() const { return error_; }

 private:
  explicit RetryResult(Kind kind) : kind_(kind) {}
  Kind kind_;
  std::optional<double> delay_;
  platform::ErrorPtr error_;
};

}  // namespace tolvane::http
