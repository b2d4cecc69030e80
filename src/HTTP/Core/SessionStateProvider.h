#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "Platform/Error.h"
#include "Platform/URLSession.h"

namespace tolvane::http {

class Request;
class RedirectHandler;
class CachedResponseHandler;
class ServerTrustManager;

// What the transport delegate needs from its session (implemented by Session): task
// look-ups and the bookkeeping of each task's final events. Every member is called on the
// session's root queue, and the look-ups stop the process when they are not.
class SessionStateProvider {
 public:
  virtual ~SessionStateProvider() = default;

  // Optional hooks; empty unless configured.
  [[nodiscard]] virtual std::shared_ptr<ServerTrustManager> serverTrustManager() const = 0;
  [[nodiscard]] virtual std::shared_ptr<RedirectHandler> redirectHandler() const = 0;
  [[nodiscard]] virtual std::shared_ptr<CachedResponseHandler> cachedResponseHandler() const = 0;

  // The request whose current attempt runs `task`, or null.
  [[nodiscard]] virtual std::shared_ptr<Request> request(
      const platform::URLSessionTask& task) const = 0;
  // `task` has delivered its metrics; runs the parked completion once both events are in.
  virtual void taskMetricsGathered(const platform::URLSessionTask& task) = 0;
  // `task` has completed; `completion` runs now if the metrics are in, else when they arrive.
  virtual void taskCompleted(const platform::URLSessionTask& task,
                             std::function<void()> completion) = 0;
  // The credential to answer an authentication challenge of `task` with, if any.
  [[nodiscard]] virtual std::optional<platform::URLCredential> credential(
      const platform::URLSessionTask& task,
      const platform::URLAuthenticationChallenge& challenge) const = 0;
  // The transport session became invalid: every mapped request ends with sessionInvalidated.
  virtual void finishAllForInvalidation(const platform::ErrorPtr& error) = 0;
};

}  // namespace tolvane::http
