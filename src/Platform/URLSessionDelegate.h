#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "Platform/AuthChallengeDisposition.h"
#include "Platform/CachedURLResponse.h"
#include "Platform/Data.h"
#include "Platform/Error.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/ResponseDisposition.h"
#include "Platform/URLAuthenticationChallenge.h"
#include "Platform/URLCredential.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSessionTask.h"
#include "Platform/URLSessionTaskMetrics.h"

namespace tolvane::platform {

class URLSession;

// Receives every event of a session and its tasks, one at a time, on the session's
// delegate queue. Each default does the platform's default action. Completion callbacks
// passed in must be called exactly once.
class URLSessionDelegate {
 public:
  virtual ~URLSessionDelegate() = default;

  virtual void didBecomeInvalidWithError(URLSession&, ErrorPtr /*error*/) {}
  virtual void didReceiveChallenge(
      URLSession&, const TaskPtr&, const URLAuthenticationChallenge&,
      std::function<void(AuthChallengeDisposition, std::optional<URLCredential>)> completion) {
    completion(AuthChallengeDisposition::performDefaultHandling, std::nullopt);
  }
  virtual void didSendBodyData(URLSession&, const TaskPtr&, std::int64_t /*bytesSent*/,
                               std::int64_t /*totalBytesSent*/,
                               std::int64_t /*totalBytesExpectedToSend*/) {}
  virtual void needNewBodyStream(URLSession&, const TaskPtr&, std::function<void()> completion) {
    completion();
  }
  virtual void willPerformHTTPRedirection(
      URLSession&, const TaskPtr&, const HTTPURLResponse&, const URLRequest& newRequest,
      std::function<void(std::optional<URLRequest>)> completion) {
    completion(newRequest);
  }
  virtual void didFinishCollectingMetrics(URLSession&, const TaskPtr&,
                                          const URLSessionTaskMetrics&) {}
  virtual void didCompleteWithError(URLSession&, const TaskPtr&,
                                    ErrorPtr /*error, null on success*/) {}
  virtual void isWaitingForConnectivity(URLSession&, const TaskPtr&) {}
  virtual void didReceiveResponse(URLSession&, const TaskPtr& /*dataTask*/, const HTTPURLResponse&,
                                  std::function<void(ResponseDisposition)> completion) {
    completion(ResponseDisposition::allow);
  }
  // Whether a data task holds its body until didReceiveResponse's completion answers. A
  // delegate that always allows says false: the response is then only reported, and each
  // request saves a round trip between the network thread and the delegate queue.
  // Read once, when the session is made.
  [[nodiscard]] virtual bool decidesResponses() const { return true; }
  virtual void didReceiveData(URLSession&, const TaskPtr& /*dataTask*/, const Data&) {}
  virtual void willCacheResponse(URLSession&, const TaskPtr& /*dataTask*/,
                                 const CachedURLResponse& proposed,
                                 std::function<void(std::optional<CachedURLResponse>)> completion) {
    completion(proposed);
  }
  virtual void didResumeAtOffset(URLSession&, const TaskPtr& /*downloadTask*/,
                                 std::int64_t /*fileOffset*/, std::int64_t /*expectedTotalBytes*/) {
  }
  virtual void didWriteData(URLSession&, const TaskPtr& /*downloadTask*/,
                            std::int64_t /*bytesWritten*/, std::int64_t /*totalBytesWritten*/,
                            std::int64_t /*totalBytesExpectedToWrite*/) {}
  // The temporary file is removed once this returns: move it away synchronously.
  virtual void didFinishDownloadingTo(URLSession&, const TaskPtr& /*downloadTask*/,
                                      const std::filesystem::path& /*location*/) {}
};

}  // namespace tolvane::platform
