#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Data.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Error.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/HeaderFields.h"
#include "Platform/URLError.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSessionTaskMetrics.h"

namespace tolvane::platform {

class URLSession;
struct ResumeData;

// Settings shared by every task of a transport session.
struct URLSessionConfiguration {
  [[nodiscard]] static URLSessionConfiguration defaultConfiguration();

  // Sent with every request unless the request sets the same header itself.
  HeaderFields httpAdditionalHeaders;
  // Inactivity time-out for requests that do not set their own (seconds).
  double timeoutIntervalForRequest = 60.0;
  // A transfer slower than lowSpeedLimitBytesPerSecond for lowSpeedTimeSeconds fails with
  // a time-out, so a trickling server cannot hold a request for ever.
  long lowSpeedLimitBytesPerSecond = 1024;
  long lowSpeedTimeSeconds = 30;
  // Extra CA bundle trusted in addition to the system's (from TOLVANE_CA_FILE by default).
  std::optional<std::filesystem::path> additionalCAFile;
  // Background sessions are not supported; the field exists so the layer can check.
  std::optional<std::string> identifier;
};

// One transfer. Created suspended; resume() starts it. Every task reports exactly one
// metrics callback and then exactly one completion to the session's delegate, also when
// cancelled. Download tasks write the body to a temporary file, never to memory.
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
 public:
  enum class State { running, suspended, canceling, completed };
  enum class Kind { data, download };

  virtual ~URLSessionTask();

  [[nodiscard]] std::uint64_t taskIdentifier() const;
  [[nodiscard]] Kind kind() const;
  [[nodiscard]] State state() const;
  [[nodiscard]] std::optional<URLRequest> originalRequest() const;
  [[nodiscard]] std::optional<URLRequest> currentRequest() const;
  // The response head once received (after redirects), else null.
  [[nodiscard]] std::shared_ptr<const HTTPURLResponse> response() const;
  [[nodiscard]] std::int64_t countOfBytesReceived() const;
  // From the response's Content-Length (plus the resumed offset for a resumed download),
  // or kTransferSizeUnknown.
  [[nodiscard]] std::int64_t countOfBytesExpectedToReceive() const;

  void resume();
  void suspend();
  void cancel();
  // Download tasks: cancel and hand back data from which a new download task can continue
  // (none when the transfer cannot be resumed). The handler runs on the delegate queue.
  void cancelByProducingResumeData(std::function<void(std::optional<Data>)> handler);

  URLSessionTask(const URLSessionTask&) = delete;
  URLSessionTask& operator=(const URLSessionTask&) = delete;

  struct Impl;

 protected:
  explicit URLSessionTask(std::unique_ptr<Impl> impl);

 private:
  friend class URLSession;
  std::unique_ptr<Impl> impl_;
};

using TaskPtr = std::shared_ptr<URLSessionTask>;

enum class AuthChallengeDisposition {
  useCredential,
  performDefaultHandling,
  cancelAuthenticationChallenge,
  rejectProtectionSpace
};
enum class ResponseDisposition { cancel, allow };

struct URLCredential {
  std::string user;
  std::string password;
};

struct URLAuthenticationChallenge {
  enum class Method {
    httpBasic,
    httpDigest,
    ntlm,
    negotiate,
    clientCertificate,
    serverTrust,
    other
  };
  Method authenticationMethod = Method::other;
  std::string host;
  int port = 0;
  std::string realm;
  int previousFailureCount = 0;
};

// A response the transport offers to cache. This transport keeps no cache; the callback
// exists so the layer's hooks have something to decide about.
struct CachedURLResponse {
  HTTPURLResponse response;
  Data data;
};

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

// A transport session: makes tasks, runs them on a network thread of its own (libcurl's
// multi interface) and delivers every callback on `delegateQueue`, one at a time. It holds
// its delegate strongly until it has been invalidated and has sent didBecomeInvalidWithError.
class URLSession : public std::enable_shared_from_this<URLSession> {
 public:
  [[nodiscard]] static std::shared_ptr<URLSession> make(
      URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
      std::shared_ptr<DispatchQueue> delegateQueue);
  ~URLSession();

  [[nodiscard]] const URLSessionConfiguration& configuration() const;
  [[nodiscard]] const std::shared_ptr<DispatchQueue>& delegateQueue() const;

  [[nodiscard]] TaskPtr dataTask(const URLRequest& request);
  [[nodiscard]] TaskPtr downloadTask(const URLRequest& request);
  [[nodiscard]] TaskPtr downloadTask(const Data& resumeData);

  // Gives up resume data that nobody will continue from: removes the partial file it names
  // when that is one of the transport's own files in the temp folder, and nothing else.
  static void discardResumeData(const Data& resumeData);

  // Cancels every outstanding task; didBecomeInvalidWithError follows once they have completed.
  void invalidateAndCancel();
  // Lets outstanding tasks finish, then invalidates.
  void finishTasksAndInvalidate();

  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  struct Impl;

 private:
  explicit URLSession(std::unique_ptr<Impl> impl);
  TaskPtr makeTask(URLSessionTask::Kind kind, URLRequest request,
                   std::optional<ResumeData> resumeData, std::optional<URLError::Code> startError);
  void taskCompleted(std::uint64_t taskIdentifier);
  void invalidate(bool cancelTasks);
  void sendInvalidationCallback();
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvane::platform
