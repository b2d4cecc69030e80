#pragma once

#include <memory>
#include <unordered_set>

#include "HTTP/Retry/RetryPolicy.h"

namespace tolvane::http {

// A retry policy for exactly one failure: the connection dropped mid-request. Status codes
// never cause a retry. The status and error code lists cannot be given, by construction.
class ConnectionLostRetryPolicy : public RetryPolicy {
 public:
  explicit ConnectionLostRetryPolicy(
      unsigned retryLimit = kDefaultRetryLimit,
      unsigned exponentialBackoffBase = kDefaultExponentialBackoffBase,
      double exponentialBackoffScale = kDefaultExponentialBackoffScale,
      std::unordered_set<HTTPMethod> retryableHTTPMethods = defaultRetryableHTTPMethods());

  // A shared policy with every default.
  [[nodiscard]] static const std::shared_ptr<ConnectionLostRetryPolicy>& defaultPolicy();
};

}  // namespace tolvane::http
