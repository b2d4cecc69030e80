#pragma once

#include "HTTP/Core/RequestAdapter.h"
#include "HTTP/Core/RequestRetrier.h"

namespace tolvane::http {

// Both contracts with neutral defaults, so a type overrides only what it cares about:
// adaptation passes the request on unchanged, retry answers doNotRetry.
class RequestInterceptor : public RequestAdapter, public RequestRetrier {
 public:
  using RequestAdapter::adapt;

  void adapt(const platform::URLRequest& urlRequest, const std::shared_ptr<Session>& session,
             RequestAdapter::Completion completion) override;
  void retry(const std::shared_ptr<Request>& request, const std::shared_ptr<Session>& session,
             const HTTPError& error, RequestRetrier::Completion completion) override;
};

}  // namespace tolvane::http
