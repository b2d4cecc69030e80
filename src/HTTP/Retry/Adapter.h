#pragma once

#include <functional>
#include <memory>

#include "HTTP/Core/RequestInterceptor.h"

namespace tolvane::http {

// An interceptor that adapts through one closure and never asks for a retry.
class Adapter : public RequestInterceptor {
 public:
  using AdaptHandler = std::function<void(
      const platform::URLRequest&, const std::shared_ptr<Session>&, RequestAdapter::Completion)>;

  explicit Adapter(AdaptHandler adaptHandler) : adaptHandler_(std::move(adaptHandler)) {}

  using RequestInterceptor::adapt;
  void adapt(const platform::URLRequest& urlRequest, const std::shared_ptr<Session>& session,
             RequestAdapter::Completion completion) override;
  void adapt(const platform::URLRequest& urlRequest, const RequestAdapterState& state,
             RequestAdapter::Completion completion) override;

 private:
  const AdaptHandler adaptHandler_;
};

}  // namespace tolvane::http
