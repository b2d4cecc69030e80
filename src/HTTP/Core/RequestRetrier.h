#pragma once

#include <functional>
#include <memory>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/RetryResult.h"

namespace tolvane::http {

class Request;
class Session;

// Decides whether a failed request is tried again. The completion may be called on any
// thread, at any later time, and must be called exactly once.
class RequestRetrier {
 public:
  using Completion = std::function<void(RetryResult)>;

  virtual ~RequestRetrier() = default;

  virtual void retry(const std::shared_ptr<Request>& request,
                     const std::shared_ptr<Session>& session, const HTTPError& error,
                     Completion completion) = 0;
};

}  // namespace tolvane::http
