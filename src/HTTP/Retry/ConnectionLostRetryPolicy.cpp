#include "HTTP/Retry/ConnectionLostRetryPolicy.h"

namespace tolvane::http {

ConnectionLostRetryPolicy::ConnectionLostRetryPolicy(
    unsigned retryLimit, unsigned exponentialBackoffBase, double exponentialBackoffScale,
    std::unordered_set<HTTPMethod> retryableHTTPMethods)
    : RetryPolicy(retryLimit, exponentialBackoffBase, exponentialBackoffScale,
                  std::move(retryableHTTPMethods), {},
                  {platform::URLError::networkConnectionLost}) {}

const std::shared_ptr<ConnectionLostRetryPolicy>& ConnectionLostRetryPolicy::defaultPolicy() {
  static const auto policy = std::make_shared<ConnectionLostRetryPolicy>();
  return policy;
}

}  // namespace tolvane::http
