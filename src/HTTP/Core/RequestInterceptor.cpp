#include "HTTP/Core/RequestInterceptor.h"

namespace tolvane::http {

void RequestInterceptor::adapt(const platform::URLRequest& urlRequest,
                               const std::shared_ptr<Session>& /*session*/,
                               RequestAdapter::Completion completion) {
  completion(urlRequest);
}

void RequestInterceptor::retry(const std::shared_ptr<Request>& /*request*/,
                               const std::shared_ptr<Session>& /*session*/,
                               const HTTPError& /*error*/, RequestRetrier::Completion completion) {
  completion(RetryResult::doNotRetry());
}

}  // namespace tolvane::http
