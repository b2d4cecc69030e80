#pragma once

#include <memory>
#include <optional>

#include "HTTP/Core/RequestInterceptor.h"

namespace tolvane {

// The program's interceptor for its update server requests: passes every URL request on
// unchanged and, for each failed attempt, answers "retry after retryDelay()" until the
// request has been retried retryLimit() times; then it gives up with
// ResourceError::timeoutRequest carrying the last attempt's error. The decision looks only
// at the request's retry count, never at the kind of failure.
//
// Immutable after construction and owned by the one request it was made for; the HTTP
// layer calls it on the session's root queue, and it needs no lock.
class RetryHandler final : public http::RequestInterceptor {
 public:
  static constexpr int kRetryLimit = 3;
  static constexpr double kRetryDelay = 5.0;
  // Diagnostic and test seam: when set to a non-negative number of seconds, make() uses it
  // as the delay instead of kRetryDelay (the limit is unchanged). Lets a test drive the real
  // program through its retries without waiting 15 seconds per failing request.
  static constexpr const char* kRetryDelayVariable = "TOLVANE_RETRY_DELAY_SECONDS";
  // The same kind of seam for the per-attempt time-out of both update server requests (the
  // manifest's 5 s, the download's transport default): lets a test drive a stalling server
  // through all attempts without waiting out the real time-outs. Tests/diagnostics only.
  static constexpr const char* kRequestTimeoutVariable = "TOLVANE_REQUEST_TIMEOUT_SECONDS";

  // The value of kRequestTimeoutVariable when it is a positive finite number of seconds.
  [[nodiscard]] static std::optional<double> requestTimeoutOverride();

  // The handler every production request gets: kRetryLimit and kRetryDelay (see
  // kRetryDelayVariable).
  [[nodiscard]] static std::shared_ptr<RetryHandler> make();

  // Any limit and delay; production code uses make().
  RetryHandler(int retryLimit, double retryDelay);

  [[nodiscard]] int retryLimit() const { return retryLimit_; }
  [[nodiscard]] double retryDelay() const { return retryDelay_; }

  using http::RequestInterceptor::adapt;
  void adapt(const platform::URLRequest& urlRequest, const std::shared_ptr<http::Session>& session,
             http::RequestAdapter::Completion completion) override;
  void retry(const std::shared_ptr<http::Request>& request,
             const std::shared_ptr<http::Session>& session, const http::HTTPError& error,
             http::RequestRetrier::Completion completion) override;

 private:
  const int retryLimit_;
  const double retryDelay_;
};

}  // namespace tolvane
