#pragma once

#include <memory>

#include "HTTP/Core/EventMonitor.h"
#include "HTTP/Core/SessionStateProvider.h"
#include "Platform/FileManager.h"
#include "Platform/URLSession.h"

namespace tolvane::http {

// The transport's delegate: tells the event monitor about every transport callback, then
// hands the information to the request that owns the task, found through the state
// provider (the session, held weakly: once it is gone, callbacks only notify the monitor
// and take the transport's default action).
//
// Threads: every callback arrives on the transport's delegate queue, which runs on the
// session's root queue. The two links are set once by the session right after
// construction, before any task exists, and only read afterwards.
class SessionDelegate : public platform::URLSessionDelegate {
 public:
  // `fileManager` moves downloaded files into place.
  explicit SessionDelegate(
      const platform::FileManager& fileManager = platform::FileManager::defaultManager())
      : fileManager_(&fileManager) {}

  void setStateProvider(std::weak_ptr<SessionStateProvider> stateProvider) {
    stateProvider_ = std::move(stateProvider);
  }
  void setEventMonitor(std::shared_ptr<EventMonitor> eventMonitor) {
    eventMonitor_ = std::move(eventMonitor);
  }
  [[nodiscard]] const std::shared_ptr<EventMonitor>& eventMonitor() const { return eventMonitor_; }

  void didBecomeInvalidWithError(platform::URLSession& session, platform::ErrorPtr error) override;
  void didReceiveChallenge(platform::URLSession& session, const platform::TaskPtr& task,
                           const platform::URLAuthenticationChallenge& challenge,
                           std::function<void(platform::AuthChallengeDisposition,
                                              std::optional<platform::URLCredential>)>
                               completion) override;
  void didSendBodyData(platform::URLSession& session, const platform::TaskPtr& task,
                       std::int64_t bytesSent, std::int64_t totalBytesSent,
                       std::int64_t totalBytesExpectedToSend) override;
  void needNewBodyStream(platform::URLSession& session, const platform::TaskPtr& task,
                         std::function<void()> completion) override;
  void willPerformHTTPRedirection(
      platform::URLSession& session, const platform::TaskPtr& task,
      const platform::HTTPURLResponse& response, const platform::URLRequest& newRequest,
      std::function<void(std::optional<platform::URLRequest>)> completion) override;
  void didFinishCollectingMetrics(platform::URLSession& session, const platform::TaskPtr& task,
                                  const platform::URLSessionTaskMetrics& metrics) override;
  void didCompleteWithError(platform::URLSession& session, const platform::TaskPtr& task,
                            platform::ErrorPtr error) override;
  void isWaitingForConnectivity(platform::URLSession& session,
                                const platform::TaskPtr& task) override;
  void didReceiveResponse(platform::URLSession& session, const platform::TaskPtr& dataTask,
                          const platform::HTTPURLResponse& response,
                          std::function<void(platform::ResponseDisposition)> completion) override;
  // Every response is allowed, so the transport need not wait for the answer.
  [[nodiscard]] bool decidesResponses() const override { return false; }
  void didReceiveData(platform::URLSession& session, const platform::TaskPtr& dataTask,
                      const platform::Data& data) override;
  void willCacheResponse(
      platform::URLSession& session, const platform::TaskPtr& dataTask,
      const platform::CachedURLResponse& proposed,
      std::function<void(std::optional<platform::CachedURLResponse>)> completion) override;
  void didResumeAtOffset(platform::URLSession& session, const platform::TaskPtr& downloadTask,
                         std::int64_t fileOffset, std::int64_t expectedTotalBytes) override;
  void didWriteData(platform::URLSession& session, const platform::TaskPtr& downloadTask,
                    std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                    std::int64_t totalBytesExpectedToWrite) override;
  void didFinishDownloadingTo(platform::URLSession& session, const platform::TaskPtr& downloadTask,
                              const std::filesystem::path& location) override;

 protected:
  // The request running `task`, while the session still exists.
  [[nodiscard]] std::shared_ptr<Request> request(const platform::URLSessionTask& task) const;
  [[nodiscard]] std::shared_ptr<SessionStateProvider> stateProvider() const {
    return stateProvider_.lock();
  }

 private:
  std::weak_ptr<SessionStateProvider> stateProvider_;
  std::shared_ptr<EventMonitor> eventMonitor_;
  const platform::FileManager* fileManager_;
};

}  // namespace tolvane::http
