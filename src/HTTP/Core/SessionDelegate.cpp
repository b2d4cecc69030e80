#include "HTTP/Core/SessionDelegate.h"

#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/DownloadRequest.h"
#include "HTTP/Core/Request.h"

namespace tolvane::http {

using platform::AuthChallengeDisposition;
using platform::TaskPtr;
using platform::URLAuthenticationChallenge;
using platform::URLSession;

std::shared_ptr<Request> SessionDelegate::request(const platform::URLSessionTask& task) const {
  auto provider = stateProvider();
  return provider ? provider->request(task) : nullptr;
}

void SessionDelegate::didBecomeInvalidWithError(URLSession& session, platform::ErrorPtr error) {
  if (eventMonitor_) eventMonitor_->sessionDidBecomeInvalidWithError(session, error);
  if (auto provider = stateProvider()) provider->finishAllForInvalidation(error);
}

void SessionDelegate::didReceiveChallenge(
    URLSession& session, const TaskPtr& task, const URLAuthenticationChallenge& challenge,
    std::function<void(AuthChallengeDisposition, std::optional<platform::URLCredential>)>
        completion) {
  if (eventMonitor_) eventMonitor_->taskDidReceiveChallenge(session, task, challenge);
  using Method = URLAuthenticationChallenge::Method;
  switch (challenge.authenticationMethod) {
    case Method::httpBasic:
    case Method::httpDigest:
    case Method::ntlm:
    case Method::negotiate:
    case Method::clientCertificate: {
      // A credential that already failed would only fail again.
      if (challenge.previousFailureCount != 0) {
        completion(AuthChallengeDisposition::rejectProtectionSpace, std::nullopt);
        return;
      }
      auto provider = stateProvider();
      auto credential = provider ? provider->credential(*task, challenge) : std::nullopt;
      if (credential) {
        completion(AuthChallengeDisposition::useCredential, std::move(credential));
      } else {
        completion(AuthChallengeDisposition::performDefaultHandling, std::nullopt);
      }
      return;
    }
    case Method::serverTrust:
      // Trust evaluation is the transport's own unless a trust manager is configured, and
      // this layer offers none.
    case Method::other:
      completion(AuthChallengeDisposition::performDefaultHandling, std::nullopt);
      return;
  }
}

void SessionDelegate::didSendBodyData(URLSession& session, const TaskPtr& task,
                                      std::int64_t bytesSent, std::int64_t totalBytesSent,
                                      std::int64_t totalBytesExpectedToSend) {
  if (eventMonitor_) {
    eventMonitor_->taskDidSendBodyData(session, task, bytesSent, totalBytesSent,
                                       totalBytesExpectedToSend);
  }
  if (auto owner = request(*task))
    owner->updateUploadProgress(RequestKey{}, totalBytesSent, totalBytesExpectedToSend);
}

void SessionDelegate::needNewBodyStream(URLSession& session, const TaskPtr& task,
                                        std::function<void()> completion) {
  if (eventMonitor_) eventMonitor_->taskNeedNewBodyStream(session, task);
  completion();
}

void SessionDelegate::willPerformHTTPRedirection(
    URLSession& session, const TaskPtr& task, const platform::HTTPURLResponse& response,
    const platform::URLRequest& newRequest,
    std::function<void(std::optional<platform::URLRequest>)> completion) {
  if (eventMonitor_)
    eventMonitor_->taskWillPerformHTTPRedirection(session, task, response, newRequest);
  // No redirect handlers exist in this layer: redirects are followed as proposed.
  completion(newRequest);
}

void SessionDelegate::didFinishCollectingMetrics(URLSession& session, const TaskPtr& task,
                                                 const platform::URLSessionTaskMetrics& metrics) {
  if (eventMonitor_) eventMonitor_->taskDidFinishCollectingMetrics(session, task, metrics);
  auto provider = stateProvider();
  if (!provider) return;
  if (auto owner = provider->request(*task)) owner->didGatherMetrics(RequestKey{}, metrics);
  provider->taskMetricsGathered(*task);
}

void SessionDelegate::didCompleteWithError(URLSession& session, const TaskPtr& task,
                                           platform::ErrorPtr error) {
  if (eventMonitor_) eventMonitor_->taskDidComplete(session, task, error);
  auto provider = stateProvider();
  if (!provider) return;
  // Looked up now: once both final events are in, the task leaves the map.
  auto owner = provider->request(*task);
  std::optional<HTTPError> failure;
  if (error) failure = asHTTPError(error, [&] { return HTTPError::sessionTaskFailed(error); });
  provider->taskCompleted(*task, [owner, task, failure] {
    if (owner) owner->didCompleteTask(RequestKey{}, task, failure);
  });
}

void SessionDelegate::isWaitingForConnectivity(URLSession& session, const TaskPtr& task) {
  if (eventMonitor_) eventMonitor_->taskIsWaitingForConnectivity(session, task);
}

void SessionDelegate::didReceiveResponse(
    URLSession& session, const TaskPtr& dataTask, const platform::HTTPURLResponse& response,
    std::function<void(platform::ResponseDisposition)> completion) {
  if (eventMonitor_) eventMonitor_->dataTaskDidReceiveResponse(session, dataTask, response);
  completion(platform::ResponseDisposition::allow);
}

void SessionDelegate::didReceiveData(URLSession& session, const TaskPtr& dataTask,
                                     const platform::Data& data) {
  if (eventMonitor_) eventMonitor_->dataTaskDidReceiveData(session, dataTask, data);
  if (auto owner = std::dynamic_pointer_cast<DataRequest>(request(*dataTask)))
    owner->didReceive(RequestKey{}, data);
}

void SessionDelegate::willCacheResponse(
    URLSession& session, const TaskPtr& dataTask, const platform::CachedURLResponse& proposed,
    std::function<void(std::optional<platform::CachedURLResponse>)> completion) {
  if (eventMonitor_) eventMonitor_->dataTaskWillCacheResponse(session, dataTask, proposed);
  completion(proposed);
}

void SessionDelegate::didResumeAtOffset(URLSession& session, const TaskPtr& downloadTask,
                                        std::int64_t fileOffset, std::int64_t expectedTotalBytes) {
  if (eventMonitor_)
    eventMonitor_->downloadTaskDidResumeAtOffset(session, downloadTask, fileOffset,
                                                 expectedTotalBytes);
  if (auto download = std::dynamic_pointer_cast<DownloadRequest>(request(*downloadTask))) {
    download->updateDownloadProgress(RequestKey{}, fileOffset, expectedTotalBytes);
  }
}

void SessionDelegate::didWriteData(URLSession& session, const TaskPtr& downloadTask,
                                   std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                   std::int64_t totalBytesExpectedToWrite) {
  if (eventMonitor_) {
    eventMonitor_->downloadTaskDidWriteData(session, downloadTask, bytesWritten, totalBytesWritten,
                                            totalBytesExpectedToWrite);
  }
  if (auto download = std::dynamic_pointer_cast<DownloadRequest>(request(*downloadTask))) {
    download->updateDownloadProgress(RequestKey{}, bytesWritten, totalBytesExpectedToWrite);
  }
}

void SessionDelegate::didFinishDownloadingTo(URLSession& session, const TaskPtr& downloadTask,
                                             const std::filesystem::path& location) {
  if (eventMonitor_) {
    eventMonitor_->downloadTaskDidFinishDownloadingToURL(session, downloadTask,
                                                         platform::URL::fileURL(location));
  }
  if (auto download = std::dynamic_pointer_cast<DownloadRequest>(request(*downloadTask))) {
    download->didFinishDownloadingTo(RequestKey{}, downloadTask, location, *fileManager_);
  }
}

}  // namespace tolvane::http
