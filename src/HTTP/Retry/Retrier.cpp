#include "HTTP/Retry/Retrier.h"

namespace tolvane::http {

void Retrier::retry(const std::shared_ptr<Request>& request,
                    const std::shared_ptr<Session>& session, const HTTPError& error,
                    RequestRetrier::Completion completion) {
  retryHandler_(request, session, error, std::move(completion));
}

}  // namespace tolvane::http
