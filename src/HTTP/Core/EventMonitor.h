#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/Result.h"
#include "HTTP/Response/ValidationResult.h"
#include "Platform/Data.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Error.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/URL.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSession.h"
#include "Platform/URLSessionTaskMetrics.h"

namespace tolvane::http {

class Request;
class DataRequest;
class DownloadRequest;
class Session;
template <typename Success>
struct DataResponse;
template <typename Success>
struct DownloadResponse;

// Observes what the layer does: the transport's events as the session delegate receives
// them, and each request's lifecycle. Every event has a default that ignores it, so a
// monitor overrides only what it wants. Events are delivered on queue(), one at a time.
class EventMonitor {
 public:
  virtual ~EventMonitor() = default;

  // The queue this monitor wants its events on.
  [[nodiscard]] virtual std::shared_ptr<platform::DispatchQueue> queue() const {
    return platform::DispatchQueue::main();
  }

  // Transport events (sent by the session delegate). `error` is null when there is none.
  virtual void sessionDidBecomeInvalidWithError(platform::URLSession& /*session*/,
                                                const platform::ErrorPtr& /*error*/) {}
  virtual void taskDidReceiveChallenge(platform::URLSession& /*session*/,
                                       const platform::TaskPtr& /*task*/,
                                       const platform::URLAuthenticationChallenge& /*challenge*/) {}
  virtual void taskDidSendBodyData(platform::URLSession& /*session*/,
                                   const platform::TaskPtr& /*task*/, std::int64_t /*bytesSent*/,
                                   std::int64_t /*totalBytesSent*/,
                                   std::int64_t /*totalBytesExpectedToSend*/) {}
  virtual void taskNeedNewBodyStream(platform::URLSession& /*session*/,
                                     const platform::TaskPtr& /*task*/) {}
  virtual void taskWillPerformHTTPRedirection(platform::URLSession& /*session*/,
                                              const platform::TaskPtr& /*task*/,
                                              const platform::HTTPURLResponse& /*response*/,
                                              const platform::URLRequest& /*newRequest*/) {}
  virtual void taskDidFinishCollectingMetrics(platform::URLSession& /*session*/,
                                              const platform::TaskPtr& /*task*/,
                                              const platform::URLSessionTaskMetrics& /*metrics*/) {}
  virtual void taskDidComplete(platform::URLSession& /*session*/, const platform::TaskPtr& /*task*/,
                               const platform::ErrorPtr& /*error*/) {}
  virtual void taskIsWaitingForConnectivity(platform::URLSession& /*session*/,
                                            const platform::TaskPtr& /*task*/) {}
  virtual void dataTaskDidReceiveResponse(platform::URLSession& /*session*/,
                                          const platform::TaskPtr& /*dataTask*/,
                                          const platform::HTTPURLResponse& /*response*/) {}
  virtual void dataTaskDidReceiveData(platform::URLSession& /*session*/,
                                      const platform::TaskPtr& /*dataTask*/,
                                      const platform::Data& /*data*/) {}
  virtual void dataTaskWillCacheResponse(platform::URLSession& /*session*/,
                                         const platform::TaskPtr& /*dataTask*/,
                                         const platform::CachedURLResponse& /*proposedResponse*/) {}
  virtual void downloadTaskDidResumeAtOffset(platform::URLSession& /*session*/,
                                             const platform::TaskPtr& /*downloadTask*/,
                                             std::int64_t /*fileOffset*/,
                                             std::int64_t /*expectedTotalBytes*/) {}
  virtual void downloadTaskDidWriteData(platform::URLSession& /*session*/,
                                        const platform::TaskPtr& /*downloadTask*/,
                                        std::int64_t /*bytesWritten*/,
                                        std::int64_t /*totalBytesWritten*/,
                                        std::int64_t /*totalBytesExpectedToWrite*/) {}
  virtual void downloadTaskDidFinishDownloadingToURL(platform::URLSession& /*session*/,
                                                     const platform::TaskPtr& /*downloadTask*/,
                                                     const platform::URL& /*location*/) {}

  // Request events (sent by the request).
  virtual void requestDidCreateInitialURLRequest(const std::shared_ptr<Request>& /*request*/,
                                                 const platform::URLRequest& /*urlRequest*/) {}
  virtual void requestDidFailToCreateURLRequestWithError(
      const std::shared_ptr<Request>& /*request*/, const HTTPError& /*error*/) {}
  virtual void requestDidAdaptInitialRequestToAdaptedRequest(
      const std::shared_ptr<Request>& /*request*/, const platform::URLRequest& /*initialRequest*/,
      const platform::URLRequest& /*adaptedRequest*/) {}
  virtual void requestDidFailToAdaptURLRequestWithError(const std::shared_ptr<Request>& /*request*/,
                                                        const platform::URLRequest& /*urlRequest*/,
                                                        const HTTPError& /*error*/) {}
  virtual void requestDidCreateURLRequest(const std::shared_ptr<Request>& /*request*/,
                                          const platform::URLRequest& /*urlRequest*/) {}
  virtual void requestDidCreateTask(const std::shared_ptr<Request>& /*request*/,
                                    const platform::TaskPtr& /*task*/) {}
  virtual void requestDidGatherMetrics(const std::shared_ptr<Request>& /*request*/,
                                       const platform::URLSessionTaskMetrics& /*metrics*/) {}
  virtual void requestDidFailTaskEarlyWithError(const std::shared_ptr<Request>& /*request*/,
                                                const platform::TaskPtr& /*task*/,
                                                const HTTPError& /*error*/) {}
  virtual void requestDidCompleteTaskWithError(const std::shared_ptr<Request>& /*request*/,
                                               const platform::TaskPtr& /*task*/,
                                               const std::optional<HTTPError>& /*error*/) {}
  virtual void requestIsRetrying(const std::shared_ptr<Request>& /*request*/) {}
  virtual void requestDidFinish(const std::shared_ptr<Request>& /*request*/) {}
  virtual void requestDidResume(const std::shared_ptr<Request>& /*request*/) {}
  virtual void requestDidResumeTask(const std::shared_ptr<Request>& /*request*/,
                                    const platform::TaskPtr& /*task*/) {}
  virtual void requestDidSuspend(const std::shared_ptr<Request>& /*request*/) {}
  virtual void requestDidSuspendTask(const std::shared_ptr<Request>& /*request*/,
                                     const platform::TaskPtr& /*task*/) {}
  virtual void requestDidCancel(const std::shared_ptr<Request>& /*request*/) {}
  virtual void requestDidCancelTask(const std::shared_ptr<Request>& /*request*/,
                                    const platform::TaskPtr& /*task*/) {}

  // Response events (sent by validators, response handlers and download requests). A
  // handler's serialized value is handed over type-erased: monitors see every handler's
  // record, whatever it decodes to.
  virtual void requestDidValidateRequestResponseDataWithResult(
      const std::shared_ptr<DataRequest>& /*request*/,
      const std::optional<platform::URLRequest>& /*urlRequest*/,
      const platform::HTTPURLResponse& /*response*/, const std::optional<platform::Data>& /*data*/,
      const ValidationResult& /*result*/) {}
  virtual void requestDidValidateRequestResponseFileURLWithResult(
      const std::shared_ptr<DownloadRequest>& /*request*/,
      const std::optional<platform::URLRequest>& /*urlRequest*/,
      const platform::HTTPURLResponse& /*response*/,
      const std::optional<platform::URL>& /*fileURL*/, const ValidationResult& /*result*/) {}
  virtual void requestDidParseResponse(const std::shared_ptr<DataRequest>& /*request*/,
                                       const DataResponse<std::any>& /*response*/) {}
  virtual void requestDidParseDownloadResponse(const std::shared_ptr<DownloadRequest>& /*request*/,
                                               const DownloadResponse<std::any>& /*response*/) {}
  virtual void requestDidCreateDestinationURL(const std::shared_ptr<DownloadRequest>& /*request*/,
                                              const platform::URL& /*url*/) {}
  virtual void requestDidFinishDownloadingUsingTaskWithResult(
      const std::shared_ptr<DownloadRequest>& /*request*/, const platform::TaskPtr& /*task*/,
      const Result<platform::URL>& /*result*/) {}
};

}  // namespace tolvane::http
