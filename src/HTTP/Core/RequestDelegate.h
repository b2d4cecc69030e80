#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/RetryResult.h"
#include "Platform/URLSession.h"

namespace tolvane::http {

class Request;

// A request's view of the session that made it (implemented by Session). Requests hold it
// weakly: the session may go away while a request still exists.
class RequestDelegate {
 public:
  virtual ~RequestDelegate() = default;

  [[nodiscard]] virtual const platform::URLSessionConfiguration& sessionConfiguration() const = 0;
  // Whether a request resumes itself when its first response handler is added.
  [[nodiscard]] virtual bool startImmediately() const = 0;
  // The request has finished all its work.
  virtual void cleanup(const std::shared_ptr<Request>& request) = 0;
  // The retry decision for `request` failing with `error`; `completion` is always called on
  // the request's underlying queue.
  virtual void retryResult(const std::shared_ptr<Request>& request, const HTTPError& error,
                           std::function<void(RetryResult)> completion) = 0;
  // Starts a new attempt of `request`, after `delay` seconds if given; underlying queue only.
  // The session holds the request from here on, so dropping it meanwhile ends the request.
  virtual void scheduleRetry(const std::shared_ptr<Request>& request,
                             std::optional<double> delay) = 0;
};

}  // namespace tolvane::http
