#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "HTTP/Core/EventMonitor.h"

namespace tolvane::http {

// Fans every event out to a fixed list of monitors. An event hops to this monitor's own
// serial queue and from there to each monitor's queue, so sending never waits for a
// monitor and each monitor sees events in the order they were sent. The list is fixed at
// construction (immutable, so it needs no lock); arguments are copied when sent.
class CompositeEventMonitor final : public EventMonitor {
 public:
  static constexpr const char* kQueueLabel = "net.tolvane.http.compositeEventMonitor";

  explicit CompositeEventMonitor(std::vector<std::shared_ptr<EventMonitor>> monitors);

  [[nodiscard]] std::shared_ptr<platform::DispatchQueue> queue() const override { return queue_; }
  [[nodiscard]] const std::vector<std::shared_ptr<EventMonitor>>& monitors() const {
    return *monitors_;
  }

  void sessionDidBecomeInvalidWithError(platform::URLSession& session,
                                        const platform::ErrorPtr& error) override;
  void taskDidReceiveChallenge(platform::URLSession& session, const platform::TaskPtr& task,
                               const platform::URLAuthenticationChallenge& challenge) override;
  void taskDidSendBodyData(platform::URLSession& session, const platform::TaskPtr& task,
                           std::int64_t bytesSent, std::int64_t totalBytesSent,
                           std::int64_t totalBytesExpectedToSend) override;
  void taskNeedNewBodyStream(platform::URLSession& session, const platform::TaskPtr& task) override;
  void taskWillPerformHTTPRedirection(platform::URLSession& session, const platform::TaskPtr& task,
                                      const platform::HTTPURLResponse& response,
                                      const platform::URLRequest& newRequest) override;
  void taskDidFinishCollectingMetrics(platform::URLSession& session, const platform::TaskPtr& task,
                                      const platform::URLSessionTaskMetrics& metrics) override;
  void taskDidComplete(platform::URLSession& session, const platform::TaskPtr& task,
                       const platform::ErrorPtr& error) override;
  void taskIsWaitingForConnectivity(platform::URLSession& session,
                                    const platform::TaskPtr& task) override;
  void dataTaskDidReceiveResponse(platform::URLSession& session, const platform::TaskPtr& dataTask,
                                  const platform::HTTPURLResponse& response) override;
  void dataTaskDidReceiveData(platform::URLSession& session, const platform::TaskPtr& dataTask,
                              const platform::Data& data) override;
  void dataTaskWillCacheResponse(platform::URLSession& session, const platform::TaskPtr& dataTask,
                                 const platform::CachedURLResponse& proposedResponse) override;
  void downloadTaskDidResumeAtOffset(platform::URLSession& session,
                                     const platform::TaskPtr& downloadTask, std::int64_t fileOffset,
                                     std::int64_t expectedTotalBytes) override;
  void downloadTaskDidWriteData(platform::URLSession& session,
                                const platform::TaskPtr& downloadTask, std::int64_t bytesWritten,
                                std::int64_t totalBytesWritten,
                                std::int64_t totalBytesExpectedToWrite) override;
  void downloadTaskDidFinishDownloadingToURL(platform::URLSession& session,
                                             const platform::TaskPtr& downloadTask,
                                             const platform::URL& location) override;

  void requestDidCreateInitialURLRequest(const std::shared_ptr<Request>& request,
                                         const platform::URLRequest& urlRequest) override;
  void requestDidFailToCreateURLRequestWithError(const std::shared_ptr<Request>& request,
                                                 const HTTPError& error) override;
  void requestDidAdaptInitialRequestToAdaptedRequest(
      const std::shared_ptr<Request>& request, const platform::URLRequest& initialRequest,
      const platform::URLRequest& adaptedRequest) override;
  void requestDidFailToAdaptURLRequestWithError(const std::shared_ptr<Request>& request,
                                                const platform::URLRequest& urlRequest,
                                                const HTTPError& error) override;
  void requestDidCreateURLRequest(const std::shared_ptr<Request>& request,
                                  const platform::URLRequest& urlRequest) override;
  void requestDidCreateTask(const std::shared_ptr<Request>& request,
                            const platform::TaskPtr& task) override;
  void requestDidGatherMetrics(const std::shared_ptr<Request>& request,
                               const platform::URLSessionTaskMetrics& metrics) override;
  void requestDidFailTaskEarlyWithError(const std::shared_ptr<Request>& request,
                                        const platform::TaskPtr& task,
                                        const HTTPError& error) override;
  void requestDidCompleteTaskWithError(const std::shared_ptr<Request>& request,
                                       const platform::TaskPtr& task,
                                       const std::optional<HTTPError>& error) override;
  void requestIsRetrying(const std::shared_ptr<Request>& request) override;
  void requestDidFinish(const std::shared_ptr<Request>& request) override;
  void requestDidResume(const std::shared_ptr<Request>& request) override;
  void requestDidResumeTask(const std::shared_ptr<Request>& request,
                            const platform::TaskPtr& task) override;
  void requestDidSuspend(const std::shared_ptr<Request>& request) override;
  void requestDidSuspendTask(const std::shared_ptr<Request>& request,
                             const platform::TaskPtr& task) override;
  void requestDidCancel(const std::shared_ptr<Request>& request) override;
  void requestDidCancelTask(const std::shared_ptr<Request>& request,
                            const platform::TaskPtr& task) override;

  void requestDidValidateRequestResponseDataWithResult(
      const std::shared_ptr<DataRequest>& request,
      const std::optional<platform::URLRequest>& urlRequest,
      const platform::HTTPURLResponse& response, const std::optional<platform::Data>& data,
      const ValidationResult& result) override;
  void requestDidValidateRequestResponseFileURLWithResult(
      const std::shared_ptr<DownloadRequest>& request,
      const std::optional<platform::URLRequest>& urlRequest,
      const platform::HTTPURLResponse& response, const std::optional<platform::URL>& fileURL,
      const ValidationResult& result) override;
  void requestDidParseResponse(const std::shared_ptr<DataRequest>& request,
                               const DataResponse<std::any>& response) override;
  void requestDidParseDownloadResponse(const std::shared_ptr<DownloadRequest>& request,
                                       const DownloadResponse<std::any>& response) override;
  void requestDidCreateDestinationURL(const std::shared_ptr<DownloadRequest>& request,
                                      const platform::URL& url) override;
  void requestDidFinishDownloadingUsingTaskWithResult(
      const std::shared_ptr<DownloadRequest>& request, const platform::TaskPtr& task,
      const Result<platform::URL>& result) override;

  // Delivers `event` to every monitor on its queue.
  void performEvent(std::function<void(EventMonitor&)> event);

 private:
  // Transport events name the transport session by reference; it is kept alive until every
  // monitor has seen the event, and an event arriving while it is being torn down is dropped.
  void performSessionEvent(platform::URLSession& session,
                           std::function<void(EventMonitor&, platform::URLSession&)> event);

  const std::shared_ptr<platform::DispatchQueue> queue_;
  const std::shared_ptr<const std::vector<std::shared_ptr<EventMonitor>>> monitors_;
};

}  // namespace tolvane::http
