#pragma once

#include <functional>
#include <memory>

#include "HTTP/Core/RequestInterceptor.h"

namespace tolvane::http {

// An interceptor that decides retries through one closure and leaves requests unchanged.
class Retrier : public RequestInterceptor {
 public:
  using RetryHandler =
      std::function<void(const std::shared_ptr<Request>&, const std::shared_ptr<Session>&,
                         const HTTPError&, RequestRetrier::Completion)>;

  explicit Retrier(RetryHandler retryHandler) : retryHandler_(std::move(retryHandler)) {}

  void retry(const std::shared_ptr<Request>& request, const std::shared_ptr<Session>& session,
             const HTTPError& error, RequestRetrier::Completion completion) override;

 private:
  const RetryHandler retryHandler_;
};

}  // namespace tolvane::http
