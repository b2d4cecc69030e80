#include "HTTP/Core/CompositeEventMonitor.h"

#include "HTTP/Response/DataResponse.h"
#include "HTTP/Response/DownloadResponse.h"

namespace tolvane::http {

using platform::TaskPtr;
using platform::URLRequest;
using platform::URLSession;

CompositeEventMonitor::CompositeEventMonitor(std::vector<std::shared_ptr<EventMonitor>> monitors)
    : queue_(platform::DispatchQueue::make(kQueueLabel)),
      monitors_(
          std::make_shared<const std::vector<std::shared_ptr<EventMonitor>>>(std::move(monitors))) {
}

void CompositeEventMonitor::performEvent(std::function<void(EventMonitor&)> event) {
  if (monitors_->empty()) return;
  queue_->async([monitors = monitors_, event = std::move(event)] {
    for (const auto& monitor : *monitors) {
      monitor->queue()->async([monitor, event] { event(*monitor); });
    }
  });
}

void CompositeEventMonitor::performSessionEvent(
    URLSession& session, std::function<void(EventMonitor&, URLSession&)> event) {
  auto owner = session.weak_from_this().lock();
  if (!owner) return;
  performEvent(
      [owner = std::move(owner), event = std::move(event)](EventMonitor& m) { event(m, *owner); });
}

void CompositeEventMonitor::sessionDidBecomeInvalidWithError(URLSession& session,
                                                             const platform::ErrorPtr& error) {
  performSessionEvent(session, [error](EventMonitor& m, URLSession& s) {
    m.sessionDidBecomeInvalidWithError(s, error);
  });
}

void CompositeEventMonitor::taskDidReceiveChallenge(
    URLSession& session, const TaskPtr& task,
    const platform::URLAuthenticationChallenge& challenge) {
  performSessionEvent(session, [task, challenge](EventMonitor& m, URLSession& s) {
    m.taskDidReceiveChallenge(s, task, challenge);
  });
}

void CompositeEventMonitor::taskDidSendBodyData(URLSession& session, const TaskPtr& task,
                                                std::int64_t bytesSent, std::int64_t totalBytesSent,
                                                std::int64_t totalBytesExpectedToSend) {
  performSessionEvent(session, [=](EventMonitor& m, URLSession& s) {
    m.taskDidSendBodyData(s, task, bytesSent, totalBytesSent, totalBytesExpectedToSend);
  });
}

void CompositeEventMonitor::taskNeedNewBodyStream(URLSession& session, const TaskPtr& task) {
  performSessionEvent(session,
                      [task](EventMonitor& m, URLSession& s) { m.taskNeedNewBodyStream(s, task); });
}

void CompositeEventMonitor::taskWillPerformHTTPRedirection(
    URLSession& session, const TaskPtr& task, const platform::HTTPURLResponse& response,
    const URLRequest& newRequest) {
  performSessionEvent(session, [task, response, newRequest](EventMonitor& m, URLSession& s) {
    m.taskWillPerformHTTPRedirection(s, task, response, newRequest);
  });
}

void CompositeEventMonitor::taskDidFinishCollectingMetrics(
    URLSession& session, const TaskPtr& task, const platform::URLSessionTaskMetrics& metrics) {
  performSessionEvent(session, [task, metrics](EventMonitor& m, URLSession& s) {
    m.taskDidFinishCollectingMetrics(s, task, metrics);
  });
}

void CompositeEventMonitor::taskDidComplete(URLSession& session, const TaskPtr& task,
                                            const platform::ErrorPtr& error) {
  performSessionEvent(session, [task, error](EventMonitor& m, URLSession& s) {
    m.taskDidComplete(s, task, error);
  });
}

void CompositeEventMonitor::taskIsWaitingForConnectivity(URLSession& session, const TaskPtr& task) {
  performSessionEvent(
      session, [task](EventMonitor& m, URLSession& s) { m.taskIsWaitingForConnectivity(s, task); });
}

void CompositeEventMonitor::dataTaskDidReceiveResponse(URLSession& session, const TaskPtr& dataTask,
                                                       const platform::HTTPURLResponse& response) {
  performSessionEvent(session, [dataTask, response](EventMonitor& m, URLSession& s) {
    m.dataTaskDidReceiveResponse(s, dataTask, response);
  });
}

void CompositeEventMonitor::dataTaskDidReceiveData(URLSession& session, const TaskPtr& dataTask,
                                                   const platform::Data& data) {
  performSessionEvent(session, [dataTask, data](EventMonitor& m, URLSession& s) {
    m.dataTaskDidReceiveData(s, dataTask, data);
  });
}

void CompositeEventMonitor::dataTaskWillCacheResponse(
    URLSession& session, const TaskPtr& dataTask,
    const platform::CachedURLResponse& proposedResponse) {
  performSessionEvent(session, [dataTask, proposedResponse](EventMonitor& m, URLSession& s) {
    m.dataTaskWillCacheResponse(s, dataTask, proposedResponse);
  });
}

void CompositeEventMonitor::downloadTaskDidResumeAtOffset(URLSession& session,
                                                          const TaskPtr& downloadTask,
                                                          std::int64_t fileOffset,
                                                          std::int64_t expectedTotalBytes) {
  performSessionEvent(session, [=](EventMonitor& m, URLSession& s) {
    m.downloadTaskDidResumeAtOffset(s, downloadTask, fileOffset, expectedTotalBytes);
  });
}

void CompositeEventMonitor::downloadTaskDidWriteData(URLSession& session,
                                                     const TaskPtr& downloadTask,
                                                     std::int64_t bytesWritten,
                                                     std::int64_t totalBytesWritten,
                                                     std::int64_t totalBytesExpectedToWrite) {
  performSessionEvent(session, [=](EventMonitor& m, URLSession& s) {
    m.downloadTaskDidWriteData(s, downloadTask, bytesWritten, totalBytesWritten,
                               totalBytesExpectedToWrite);
  });
}

void CompositeEventMonitor::downloadTaskDidFinishDownloadingToURL(URLSession& session,
                                                                  const TaskPtr& downloadTask,
                                                                  const platform::URL& location) {
  performSessionEvent(session, [downloadTask, location](EventMonitor& m, URLSession& s) {
    m.downloadTaskDidFinishDownloadingToURL(s, downloadTask, location);
  });
}

void CompositeEventMonitor::requestDidCreateInitialURLRequest(
    const std::shared_ptr<Request>& request, const URLRequest& urlRequest) {
  performEvent([request, urlRequest](EventMonitor& m) {
    m.requestDidCreateInitialURLRequest(request, urlRequest);
  });
}

void CompositeEventMonitor::requestDidFailToCreateURLRequestWithError(
    const std::shared_ptr<Request>& request, const HTTPError& error) {
  performEvent([request, error](EventMonitor& m) {
    m.requestDidFailToCreateURLRequestWithError(request, error);
  });
}

void CompositeEventMonitor::requestDidAdaptInitialRequestToAdaptedRequest(
    const std::shared_ptr<Request>& request, const URLRequest& initialRequest,
    const URLRequest& adaptedRequest) {
  performEvent([request, initialRequest, adaptedRequest](EventMonitor& m) {
    m.requestDidAdaptInitialRequestToAdaptedRequest(request, initialRequest, adaptedRequest);
  });
}

void CompositeEventMonitor::requestDidFailToAdaptURLRequestWithError(
    const std::shared_ptr<Request>& request, const URLRequest& urlRequest, const HTTPError& error) {
  performEvent([request, urlRequest, error](EventMonitor& m) {
    m.requestDidFailToAdaptURLRequestWithError(request, urlRequest, error);
  });
}

void CompositeEventMonitor::requestDidCreateURLRequest(const std::shared_ptr<Request>& request,
                                                       const URLRequest& urlRequest) {
  performEvent([request, urlRequest](EventMonitor& m) {
    m.requestDidCreateURLRequest(request, urlRequest);
  });
}

void CompositeEventMonitor::requestDidCreateTask(const std::shared_ptr<Request>& request,
                                                 const TaskPtr& task) {
  performEvent([request, task](EventMonitor& m) { m.requestDidCreateTask(request, task); });
}

void CompositeEventMonitor::requestDidGatherMetrics(
    const std::shared_ptr<Request>& request, const platform::URLSessionTaskMetrics& metrics) {
  performEvent(
      [request, metrics](EventMonitor& m) { m.requestDidGatherMetrics(request, metrics); });
}

void CompositeEventMonitor::requestDidFailTaskEarlyWithError(
    const std::shared_ptr<Request>& request, const TaskPtr& task, const HTTPError& error) {
  performEvent([request, task, error](EventMonitor& m) {
    m.requestDidFailTaskEarlyWithError(request, task, error);
  });
}

void CompositeEventMonitor::requestDidCompleteTaskWithError(const std::shared_ptr<Request>& request,
                                                            const TaskPtr& task,
                                                            const std::optional<HTTPError>& error) {
  performEvent([request, task, error](EventMonitor& m) {
    m.requestDidCompleteTaskWithError(request, task, error);
  });
}

void CompositeEventMonitor::requestIsRetrying(const std::shared_ptr<Request>& request) {
  performEvent([request](EventMonitor& m) { m.requestIsRetrying(request); });
}

void CompositeEventMonitor::requestDidFinish(const std::shared_ptr<Request>& request) {
  performEvent([request](EventMonitor& m) { m.requestDidFinish(request); });
}

void CompositeEventMonitor::requestDidResume(const std::shared_ptr<Request>& request) {
  performEvent([request](EventMonitor& m) { m.requestDidResume(request); });
}

void CompositeEventMonitor::requestDidResumeTask(const std::shared_ptr<Request>& request,
                                                 const TaskPtr& task) {
  performEvent([request, task](EventMonitor& m) { m.requestDidResumeTask(request, task); });
}

void CompositeEventMonitor::requestDidSuspend(const std::shared_ptr<Request>& request) {
  performEvent([request](EventMonitor& m) { m.requestDidSuspend(request); });
}

void CompositeEventMonitor::requestDidSuspendTask(const std::shared_ptr<Request>& request,
                                                  const TaskPtr& task) {
  performEvent([request, task](EventMonitor& m) { m.requestDidSuspendTask(request, task); });
}

void CompositeEventMonitor::requestDidCancel(const std::shared_ptr<Request>& request) {
  performEvent([request](EventMonitor& m) { m.requestDidCancel(request); });
}

void CompositeEventMonitor::requestDidCancelTask(const std::shared_ptr<Request>& request,
                                                 const TaskPtr& task) {
  performEvent([request, task](EventMonitor& m) { m.requestDidCancelTask(request, task); });
}

void CompositeEventMonitor::requestDidValidateRequestResponseDataWithResult(
    const std::shared_ptr<DataRequest>& request, const std::optional<URLRequest>& urlRequest,
    const platform::HTTPURLResponse& response, const std::optional<platform::Data>& data,
    const ValidationResult& result) {
  performEvent([=](EventMonitor& m) {
    m.requestDidValidateRequestResponseDataWithResult(request, urlRequest, response, data, result);
  });
}

void CompositeEventMonitor::requestDidValidateRequestResponseFileURLWithResult(
    const std::shared_ptr<DownloadRequest>& request, const std::optional<URLRequest>& urlRequest,
    const platform::HTTPURLResponse& response, const std::optional<platform::URL>& fileURL,
    const ValidationResult& result) {
  performEvent([=](EventMonitor& m) {
    m.requestDidValidateRequestResponseFileURLWithResult(request, urlRequest, response, fileURL,
                                                         result);
  });
}

void CompositeEventMonitor::requestDidParseResponse(const std::shared_ptr<DataRequest>& request,
                                                    const DataResponse<std::any>& response) {
  performEvent(
      [request, response](EventMonitor& m) { m.requestDidParseResponse(request, response); });
}

void CompositeEventMonitor::requestDidParseDownloadResponse(
    const std::shared_ptr<DownloadRequest>& request, const DownloadResponse<std::any>& response) {
  performEvent([request, response](EventMonitor& m) {
    m.requestDidParseDownloadResponse(request, response);
  });
}

void CompositeEventMonitor::requestDidCreateDestinationURL(
    const std::shared_ptr<DownloadRequest>& request, const platform::URL& url) {
  performEvent([request, url](EventMonitor& m) { m.requestDidCreateDestinationURL(request, url); });
}

void CompositeEventMonitor::requestDidFinishDownloadingUsingTaskWithResult(
    const std::shared_ptr<DownloadRequest>& request, const TaskPtr& task,
    const Result<platform::URL>& result) {
  performEvent([request, task, result](EventMonitor& m) {
    m.requestDidFinishDownloadingUsingTaskWithResult(request, task, result);
  });
}

}  // namespace tolvane::http
