#include "HTTP/Retry/Interceptor.h"

#include <cstddef>

namespace tolvane::http {
namespace {

using Adapters = std::vector<std::shared_ptr<RequestAdapter>>;
using Retriers = std::vector<std::shared_ptr<RequestRetrier>>;

std::vector<std::shared_ptr<RequestAdapter>> joinAdapters(
    Adapters adapters, const std::vector<std::shared_ptr<RequestInterceptor>>& more) {
  adapters.insert(adapters.end(), more.begin(), more.end());
  return adapters;
}

std::vector<std::shared_ptr<RequestRetrier>> joinRetriers(
    Retriers retriers, const std::vector<std::shared_ptr<RequestInterceptor>>& more) {
  retriers.insert(retriers.end(), more.begin(), more.end());
  return retriers;
}

// Calls adapter `index` with `urlRequest`, then continues with the next one from its
// completion, which may come on any thread. `Argument` is the session or the state.
template <typename Argument>
void adaptChain(std::shared_ptr<const Adapters> adapters, std::size_t index,
                const platform::URLRequest& urlRequest, Argument argument,
                RequestAdapter::Completion completion) {
  if (index == adapters->size()) {
    completion(urlRequest);
    return;
  }
  const auto& adapter = (*adapters)[index];
  adapter->adapt(
      urlRequest, argument,
      [adapters, index, argument, completion](Result<platform::URLRequest> result) mutable {
        if (result.isFailure()) {
          completion(std::move(result));
          return;
        }
        adaptChain(adapters, index + 1, result.value(), std::move(argument), std::move(completion));
      });
}

void retryChain(std::shared_ptr<const Retriers> retriers, std::size_t index,
                const std::shared_ptr<Request>& request, const std::shared_ptr<Session>& session,
                const HTTPError& error, RequestRetrier::Completion completion) {
  if (index == retriers->size()) {
    completion(RetryResult::doNotRetry());
    return;
  }
  (*retriers)[index]->retry(
      request, session, error,
      [retriers, index, request, session, error, completion](RetryResult result) {
        if (result.kind() != RetryResult::Kind::doNotRetry) {
          completion(std::move(result));
          return;
        }
        retryChain(retriers, index + 1, request, session, error, completion);
      });
}

}  // namespace

Interceptor::Interceptor(Adapter::AdaptHandler adaptHandler, Retrier::RetryHandler retryHandler)
    : adapters_{std::make_shared<Adapter>(std::move(adaptHandler))},
      retriers_{std::make_shared<Retrier>(std::move(retryHandler))} {}

Interceptor::Interceptor(std::shared_ptr<RequestAdapter> adapter,
                         std::shared_ptr<RequestRetrier> retrier)
    : adapters_{std::move(adapter)}, retriers_{std::move(retrier)} {}

Interceptor::Interceptor(std::vector<std::shared_ptr<RequestAdapter>> adapters,
                         std::vector<std::shared_ptr<RequestRetrier>> retriers,
                         const std::vector<std::shared_ptr<RequestInterceptor>>& interceptors)
    : adapters_(joinAdapters(std::move(adapters), interceptors)),
      retriers_(joinRetriers(std::move(retriers), interceptors)) {}

void Interceptor::adapt(const platform::URLRequest& urlRequest,
                        const std::shared_ptr<Session>& session,
                        RequestAdapter::Completion completion) {
  adaptChain(std::make_shared<const Adapters>(adapters_), 0, urlRequest, session,
             std::move(completion));
}

void Interceptor::adapt(const platform::URLRequest& urlRequest, const RequestAdapterState& state,
                        RequestAdapter::Completion completion) {
  adaptChain(std::make_shared<const Adapters>(adapters_), 0, urlRequest, state,
             std::move(completion));
}

void Interceptor::retry(const std::shared_ptr<Request>& request,
                        const std::shared_ptr<Session>& session, const HTTPError& error,
                        RequestRetrier::Completion completion) {
  retryChain(std::make_shared<const Retriers>(retriers_), 0, request, session, error,
             std::move(completion));
}

}  // namespace tolvane::http
