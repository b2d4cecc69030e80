#include "Services/NetworkService.h"

#include <string>
#include <utility>

#include "HTTP/Core/Session.h"
#include "HTTP/Core/URLEncoding.h"
#include "HTTP/Response/PassthroughPreprocessor.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "HTTP/Response/Validation.h"
#include "Platform/CheckedContinuation.h"
#include "Platform/Configuration.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Fatal.h"

namespace tolvane {

NetworkService::NetworkService(std::shared_ptr<http::Session> session,
                               RetryHandlerFactory makeRetryHandler)
    : session_(std::move(session)), makeRetryHandler_(std::move(makeRetryHandler)) {}

LoaderModel NetworkService::fetchManifest() {
  return request(std::nullopt, http::HTTPMethod::get, std::nullopt);
}

LoaderModel NetworkService::request(const std::optional<std::string>& endpoint,
                                    const http::HTTPMethod& method,
                                    const std::optional<http::HTTPHeaders>& headers) {
  platform::DispatchQueue::main()->dispatchPreconditionNotOnQueue(kOperationName);
  platform::CheckedContinuation<LoaderModel> continuation(kOperationName);

  const std::string origin = platform::Configuration::updateOrigin();
  const std::string address = endpoint ? origin + "/" + *endpoint : origin + kDefaultPath;
  // The default address already carries os=macos; the encoding appends the parameter again,
  // so the server sees the pair twice. Update servers expect exactly that query.
  std::optional<http::Parameters> parameters;
  if (!endpoint) parameters = http::Parameters{{"os", "macos"}};

  auto dataRequest = session_->request(
      address, method, std::move(parameters),
      std::make_shared<const http::URLEncoding>(http::URLEncoding::defaultEncoding()), headers,
      makeRetryHandler_(), [](platform::URLRequest& urlRequest) -> platform::ErrorPtr {
        urlRequest.timeoutInterval =
            RetryHandler::requestTimeoutOverride().value_or(kTimeoutInterval);
        urlRequest.maximumBodyLength = kMaximumManifestLength;
        return nullptr;
      });
  http::responseDecodable<LoaderModel>(
      http::validate(dataRequest), platform::DispatchQueue::main(),
      [resumer = continuation.resumer()](const http::DataResponse<LoaderModel>& response) mutable {
        if (response.result.isSuccess()) {
          resumer.resume(response.result.value());
        } else {
          resumer.resume(platform::makeError(response.result.error()));
        }
      },
      std::make_shared<const http::PassthroughPreprocessor>());
  return continuation.wait();
}

}  // namespace tolvane
