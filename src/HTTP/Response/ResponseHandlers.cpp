#include "HTTP/Response/ResponseHandlers.h"

namespace tolvane::http {

namespace {

// Handlers that only report the request's outcome: no serializer, no retry decision.
template <typename RequestType, typename ResponseType, typename Build>
void addPlainHandler(const std::shared_ptr<RequestType>& request, ResponseQueue queue, Build build,
                     std::function<void(const ResponseType&)> completion) {
  std::weak_ptr<RequestType> weak = request;
  request->addResponseSerializer(
      detail::ResponseLayer::key(), [weak, queue = std::move(queue), build = std::move(build),
                                     completion = std::move(completion)] {
        const auto self = weak.lock();
        if (!self) return;
        self->underlyingQueue()->async([self, queue, build, completion] {
          ResponseType response = build(*self);
          detail::reportParsed(self, response);
          detail::finishHandler(self, queue, completion, std::move(response));
        });
      });
}

}  // namespace

std::shared_ptr<DataRequest> response(
    const std::shared_ptr<DataRequest>& request, ResponseQueue queue,
    std::function<void(const DataResponse<std::optional<platform::Data>>&)> completion) {
  addPlainHandler(
      request, std::move(queue),
      [](const DataRequest& self) {
        auto data = self.data();
        const auto error = self.serializationInputError();
        Result<std::optional<platform::Data>> result =
            error ? Result<std::optional<platform::Data>>(*error)
                  : Result<std::optional<platform::Data>>(data);
        return DataResponse<std::optional<platform::Data>>{
            self.lastRequest(), self.response(), std::move(data), self.lastMetrics(), 0,
            std::move(result)};
      },
      std::move(completion));
  return request;
}

std::shared_ptr<DownloadRequest> response(
    const std::shared_ptr<DownloadRequest>& request, ResponseQueue queue,
    std::function<void(const DownloadResponse<std::optional<platform::URL>>&)> completion) {
  addPlainHandler(
      request, std::move(queue),
      [](const DownloadRequest& self) {
        const auto fileURL = self.fileURL();
        const auto error = self.error();
        Result<std::optional<platform::URL>> result =
            error ? Result<std::optional<platform::URL>>(*error)
                  : Result<std::optional<platform::URL>>(fileURL);
        return DownloadResponse<std::optional<platform::URL>>{
            self.lastRequest(), self.response(), fileURL, self.resumeData(), self.lastMetrics(), 0,
            std::move(result)};
      },
      std::move(completion));
  return request;
}

std::shared_ptr<DownloadRequest> responseURL(
    const std::shared_ptr<DownloadRequest>& request, ResponseQueue queue,
    std::function<void(const DownloadResponse<platform::URL>&)> completion) {
  return response(request, std::move(queue), std::make_shared<const URLResponseSerializer>(),
                  std::move(completion));
}

}  // namespace tolvane::http
