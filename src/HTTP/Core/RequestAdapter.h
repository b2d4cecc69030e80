#pragma once

#include <functional>
#include <memory>

#include "HTTP/Core/RequestAdapterState.h"
#include "HTTP/Core/Result.h"
#include "Platform/URLRequest.h"

namespace tolvane::http {

class Session;

// Changes a URL request before its transport task is made. The completion may be called
// on any thread, at any later time, and must be called exactly once.
//
// Derived classes overriding one `adapt` should say `using RequestAdapter::adapt;` so the
// other overload stays visible.
class RequestAdapter {
 public:
  using Completion = std::function<void(Result<platform::URLRequest>)>;

  virtual ~RequestAdapter() = default;

  virtual void adapt(const platform::URLRequest& urlRequest,
                     const std::shared_ptr<Session>& session, Completion completion) = 0;
  // The form the session calls; by default the one above with the state's session.
  virtual void adapt(const platform::URLRequest& urlRequest, const RequestAdapterState& state,
                     Completion completion) {
    adapt(urlRequest, state.session, std::move(completion));
  }
};

}  // namespace tolvane::http
