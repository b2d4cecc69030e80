#pragma once

#include <any>
#include <chrono>
#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/DownloadRequest.h"
#include "HTTP/Core/EventMonitor.h"
#include "HTTP/Core/RequestDelegate.h"
#include "HTTP/Core/RetryResult.h"
#include "HTTP/Response/DataResponse.h"
#include "HTTP/Response/DataResponseSerializer.h"
#include "HTTP/Response/DecodableResponseSerializer.h"
#include "HTTP/Response/DownloadResponse.h"
#include "HTTP/Response/JSONResponseSerializer.h"
#include "HTTP/Response/ResponseLayer.h"
#include "HTTP/Response/StringResponseSerializer.h"
#include "HTTP/Response/URLResponseSerializer.h"
#include "Platform/DispatchQueue.h"

// Response handlers. Each attaches one serializer to a request (starting the request when
// the session starts requests immediately) and returns the request, so handlers and
// validators can be stacked on the same request. When the request finishes, the handlers run
// one after another in the order attached, each serializing on the session's serialization
// queue and delivering its response record asynchronously on the queue the caller names.
//
// A serializer failure is offered to the request's retrier first: if it retries, the caller
// hears nothing now and the handler runs again after the next attempt, so each completion
// runs exactly once, for the final attempt.
//
//   responseDecodable<LoaderModel>(validate(session->request(url)), DispatchQueue::main(),
//                                  [](const DataResponse<LoaderModel>& response) { ... });
namespace tolvane::http {

using ResponseQueue = std::shared_ptr<platform::DispatchQueue>;

namespace detail {

[[nodiscard]] inline double uptimeSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The record with its value type-erased, as monitors receive it.
template <typename T>
[[nodiscard]] Result<std::any> erased(const Result<T>& result) {
  if (result.isSuccess()) return std::any(result.value());
  return result.error();
}

// Tells the request's monitor about a handler's record (underlying queue).
template <typename T>
void reportParsed(const std::shared_ptr<DataRequest>& request, const DataResponse<T>& response) {
  if (const auto& monitor = request->eventMonitor()) {
    monitor->requestDidParseResponse(
        request,
        DataResponse<std::any>{response.request, response.response, response.data, response.metrics,
                               response.serializationDuration, erased(response.result)});
  }
}

template <typename T>
void reportParsed(const std::shared_ptr<DownloadRequest>& request,
                  const DownloadResponse<T>& response) {
  if (const auto& monitor = request->eventMonitor()) {
    monitor->requestDidParseDownloadResponse(
        request, DownloadResponse<std::any>{
                     response.request, response.response, response.fileURL, response.resumeData,
                     response.metrics, response.serializationDuration, erased(response.result)});
  }
}

// Hands `response` to the request as the record of this handler; the caller's completion is
// dispatched to `queue` when the request runs the collected completions.
template <typename RequestType, typename ResponseType>
void finishHandler(const std::shared_ptr<RequestType>& request, const ResponseQueue& queue,
                   const std::function<void(const ResponseType&)>& completion,
                   ResponseType response) {
  request->responseSerializerFinished(
      detail::ResponseLayer::key(), [queue, completion, response = std::move(response)] {
        queue->async([completion, response] { completion(response); });
      });
}

// The life of one serializing handler. `serialize(request)` runs on the serialization queue
// and gives a Result<T>; `build(request, duration, result)` makes the record on the
// underlying queue.
template <typename T, typename RequestType, typename ResponseType, typename Serialize,
          typename Build>
void addSerializingHandler(const std::shared_ptr<RequestType>& request, ResponseQueue queue,
                           Serialize serialize, Build build,
                           std::function<void(const ResponseType&)> completion) {
  std::weak_ptr<RequestType> weak = request;
  request->addResponseSerializer(
      detail::ResponseLayer::key(),
      [weak, queue = std::move(queue), serialize = std::move(serialize), build = std::move(build),
       completion = std::move(completion)] {
        const auto self = weak.lock();
        if (!self) return;
        const double start = uptimeSeconds();
        Result<T> result = serialize(*self);
        const double end = uptimeSeconds();
        self->underlyingQueue()->async([self, queue, build, completion, result = std::move(result),
                                        duration = end - start] {
          ResponseType response = build(*self, duration, result);
          reportParsed(self, response);
          const auto delegate = self->delegate();
          if (self->isCancelled() || result.isSuccess() || !delegate) {
            finishHandler(self, queue, completion, std::move(response));
            return;
          }
          delegate->retryResult(
              self, result.error(), [self, queue, completion, response](RetryResult retry) {
                switch (retry.kind()) {
                  case RetryResult::Kind::doNotRetry:
                    finishHandler(self, queue, completion, response);
                    return;
                  case RetryResult::Kind::doNotRetryWithError: {
                    ResponseType replaced = response;
                    replaced.result =
                        asHTTPError(retry.error(), "Received retryError was not already HTTPError");
                    finishHandler(self, queue, completion, std::move(replaced));
                    return;
                  }
                  case RetryResult::Kind::retry:
                  case RetryResult::Kind::retryWithDelay:
                    // Without a session nobody would run another attempt, and a cancel that came
                    // while the retrier was deciding has already tried to end the request: either
                    // way, deliver what there is.
                    if (const auto current = self->delegate();
                        current && self->awaitNextAttempt(detail::ResponseLayer::key())) {
                      current->scheduleRetry(self, retry.delay());
                    } else {
                      finishHandler(self, queue, completion, response);
                    }
                    return;
                }
              });
        });
      });
}

}  // namespace detail

// What differs between the two request kinds: the record a handler delivers, the serializer
// protocol it takes, and what the serializer is handed.
template <typename RequestType>
struct RequestKindTraits;

template <>
struct RequestKindTraits<DataRequest> {
  template <typename T>
  using Response = DataResponse<T>;
  template <typename T>
  using SerializerProtocol = DataResponseSerializerProtocol<T>;

  template <typename Serializer>
  static auto serialize(const Serializer& serializer, const DataRequest& self) {
    const auto head = self.response();
    return serializer.serialize(self.lastRequest(), head.get(), self.data(),
                                self.serializationInputError());
  }
  template <typename T>
  static DataResponse<T> record(const DataRequest& self, double duration, const Result<T>& result) {
    return {self.lastRequest(), self.response(), self.data(), self.lastMetrics(), duration, result};
  }
};

template <>
struct RequestKindTraits<DownloadRequest> {
  template <typename T>
  using Response = DownloadResponse<T>;
  template <typename T>
  using SerializerProtocol = DownloadResponseSerializerProtocol<T>;

  template <typename Serializer>
  static auto serialize(const Serializer& serializer, const DownloadRequest& self) {
    const auto head = self.response();
    return serializer.serializeDownload(self.lastRequest(), head.get(), self.fileURL(),
                                        self.error());
  }
  template <typename T>
  static DownloadResponse<T> record(const DownloadRequest& self, double duration,
                                    const Result<T>& result) {
    return {self.lastRequest(), self.response(), self.fileURL(), self.resumeData(),
            self.lastMetrics(), duration,        result};
  }
};

template <typename RequestType>
concept RequestKind =
    std::same_as<RequestType, DataRequest> || std::same_as<RequestType, DownloadRequest>;

// The completion of a handler on a `RequestType` delivering a `T`: it gets a DataResponse<T>
// or a DownloadResponse<T>.
template <typename T, typename RequestType>
using HandlerCompletion =
    std::function<void(const typename RequestKindTraits<RequestType>::template Response<T>&)>;

// The general form: any serializer of the request's kind (every ResponseSerializer serves
// both).
template <RequestKind RequestType, typename Serializer>
requires std::derived_from<Serializer,
                           typename RequestKindTraits<RequestType>::template SerializerProtocol<
                               typename Serializer::SerializedObject>>
    std::shared_ptr<RequestType> response(
        const std::shared_ptr<RequestType>& request, ResponseQueue queue,
        std::shared_ptr<const Serializer> serializer,
        HandlerCompletion<typename Serializer::SerializedObject, RequestType> completion) {
  using T = typename Serializer::SerializedObject;
  using Traits = RequestKindTraits<RequestType>;
  detail::addSerializingHandler<T>(
      request, std::move(queue),
      [serializer](const RequestType& self) { return Traits::serialize(*serializer, self); },
      [](const RequestType& self, double duration, const Result<T>& result) {
        return Traits::template record<T>(self, duration, result);
      },
      std::move(completion));
  return request;
}

// The plain data handler, the outcome as it is: success with the body (none when nothing
// arrived), or the request's error (a body refused for its length counts as one that could
// not be decoded). No retry decision of its own.
std::shared_ptr<DataRequest> response(
    const std::shared_ptr<DataRequest>& request, ResponseQueue queue,
    std::function<void(const DataResponse<std::optional<platform::Data>>&)> completion);
// The plain download handler: success with where the file was put, or the request's error
// unchanged. No retry decision of its own.
std::shared_ptr<DownloadRequest> response(
    const std::shared_ptr<DownloadRequest>& request, ResponseQueue queue,
    std::function<void(const DownloadResponse<std::optional<platform::URL>>&)> completion);

std::shared_ptr<DownloadRequest> responseURL(
    const std::shared_ptr<DownloadRequest>& request, ResponseQueue queue,
    std::function<void(const DownloadResponse<platform::URL>&)> completion);

template <RequestKind RequestType>
std::shared_ptr<RequestType> responseData(
    const std::shared_ptr<RequestType>& request, ResponseQueue queue,
    HandlerCompletion<platform::Data, RequestType> completion,
    std::shared_ptr<const DataPreprocessor> dataPreprocessor = defaultDataPreprocessor(),
    EmptyResponseCodes emptyResponseCodes = defaultEmptyResponseCodes(),
    EmptyRequestMethods emptyRequestMethods = defaultEmptyRequestMethods()) {
  return response(request, std::move(queue),
                  std::make_shared<const DataResponseSerializer>(std::move(dataPreprocessor),
                                                                 std::move(emptyResponseCodes),
                                                                 std::move(emptyRequestMethods)),
                  std::move(completion));
}

template <RequestKind RequestType>
std::shared_ptr<RequestType> responseString(
    const std::shared_ptr<RequestType>& request, ResponseQueue queue,
    HandlerCompletion<std::string, RequestType> completion,
    std::shared_ptr<const DataPreprocessor> dataPreprocessor = defaultDataPreprocessor(),
    std::optional<StringEncoding> encoding = std::nullopt,
    EmptyResponseCodes emptyResponseCodes = defaultEmptyResponseCodes(),
    EmptyRequestMethods emptyRequestMethods = defaultEmptyRequestMethods()) {
  return response(request, std::move(queue),
                  std::make_shared<const StringResponseSerializer>(
                      std::move(dataPreprocessor), encoding, std::move(emptyResponseCodes),
                      std::move(emptyRequestMethods)),
                  std::move(completion));
}

template <RequestKind RequestType>
std::shared_ptr<RequestType> responseJSON(
    const std::shared_ptr<RequestType>& request, ResponseQueue queue,
    HandlerCompletion<nlohmann::json, RequestType> completion,
    std::shared_ptr<const DataPreprocessor> dataPreprocessor = defaultDataPreprocessor(),
    EmptyResponseCodes emptyResponseCodes = defaultEmptyResponseCodes(),
    EmptyRequestMethods emptyRequestMethods = defaultEmptyRequestMethods(),
    JSONReadingOptions options = JSONReadingOptions::none) {
  return response(request, std::move(queue),
                  std::make_shared<const JSONResponseSerializer>(
                      std::move(dataPreprocessor), std::move(emptyResponseCodes),
                      std::move(emptyRequestMethods), options),
                  std::move(completion));
}

template <Decodable T, RequestKind RequestType>
std::shared_ptr<RequestType> responseDecodable(
    const std::shared_ptr<RequestType>& request, ResponseQueue queue,
    HandlerCompletion<T, RequestType> completion,
    std::shared_ptr<const DataPreprocessor> dataPreprocessor = defaultDataPreprocessor(),
    std::shared_ptr<const DataDecoder> decoder = std::make_shared<const JSONDecoder>(),
    EmptyResponseCodes emptyResponseCodes = defaultEmptyResponseCodes(),
    EmptyRequestMethods emptyRequestMethods = defaultEmptyRequestMethods()) {
  return response(request, std::move(queue),
                  std::make_shared<const DecodableResponseSerializer<T>>(
                      std::move(dataPreprocessor), std::move(decoder),
                      std::move(emptyResponseCodes), std::move(emptyRequestMethods)),
                  std::move(completion));
}

}  // namespace tolvane::http
