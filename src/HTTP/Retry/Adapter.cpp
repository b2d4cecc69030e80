#include "HTTP/Retry/Adapter.h"

namespace tolvane::http {

void Adapter::adapt(const platform::URLRequest& urlRequest, const std::shared_ptr<Session>& session,
                    RequestAdapter::Completion completion) {
  adaptHandler_(urlRequest, session, std::move(completion));
}

void Adapter::adapt(const platform::URLRequest& urlRequest, const RequestAdapterState& state,
                    RequestAdapter::Completion completion) {
  adaptHandler_(urlRequest, state.session, std::move(completion));
}

}  // namespace tolvane::http
