#pragma once

#include <memory>
#include <vector>

#include "HTTP/Core/RequestInterceptor.h"
#include "HTTP/Retry/Adapter.h"
#include "HTTP/Retry/Retrier.h"

namespace tolvane::http {

// Several adapters and retriers acting as one interceptor. Adapters run in order, each
// adapting the previous one's output; the first failure ends the chain. Retriers are asked
// in order until one answers anything but doNotRetry. Immutable after construction.
class Interceptor : public RequestInterceptor {
 public:
  Interceptor(Adapter::AdaptHandler adaptHandler, Retrier::RetryHandler retryHandler);
  Interceptor(std::shared_ptr<RequestAdapter> adapter, std::shared_ptr<RequestRetrier> retrier);
  // `interceptors` act both as adapters (after `adapters`) and as retriers (after `retriers`).
  explicit Interceptor(std::vector<std::shared_ptr<RequestAdapter>> adapters = {},
                       std::vector<std::shared_ptr<RequestRetrier>> retriers = {},
                       const std::vector<std::shared_ptr<RequestInterceptor>>& interceptors = {});

  [[nodiscard]] const std::vector<std::shared_ptr<RequestAdapter>>& adapters() const {
    return adapters_;
  }
  [[nodiscard]] const std::vector<std::shared_ptr<RequestRetrier>>& retriers() const {
    return retriers_;
  }

  using RequestInterceptor::adapt;
  void adapt(const platform::URLRequest& urlRequest, const std::shared_ptr<Session>& session,
             RequestAdapter::Completion completion) override;
  void adapt(const platform::URLRequest& urlRequest, const RequestAdapterState& state,
             RequestAdapter::Completion completion) override;
  void retry(const std::shared_ptr<Request>& request, const std::shared_ptr<Session>& session,
             const HTTPError& error, RequestRetrier::Completion completion) override;

 private:
  const std::vector<std::shared_ptr<RequestAdapter>> adapters_;
  const std::vector<std::shared_ptr<RequestRetrier>> retriers_;
};

}  // namespace tolvane::http
