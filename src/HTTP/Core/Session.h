#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "HTTP/Core/DownloadRequest.h"
#include "HTTP/Core/HTTPHeaders.h"
#include "HTTP/Core/HTTPMethod.h"
#include "HTTP/Core/ParameterEncoding.h"
#include "HTTP/Core/Request.h"
#include "HTTP/Core/RequestConvertible.h"
#include "HTTP/Core/RequestDelegate.h"
#include "HTTP/Core/RequestTaskMap.h"
#include "HTTP/Core/SessionStateProvider.h"
#include "Platform/DispatchQueue.h"
#include "Platform/URLSession.h"
#include "Platform/UUID.h"

namespace tolvane::http {

class CompositeEventMonitor;
class DataRequest;
class EventMonitor;
class RequestAdapter;
class RequestInterceptor;
class RequestRetrier;
class SessionDelegate;

// The parts of a session after its transport parts; the defaults are the program's.
struct SessionSettings {
  bool startRequestsImmediately = true;
  // Default: a queue labelled after the root queue that targets it.
  std::shared_ptr<platform::DispatchQueue> requestQueue;
  std::shared_ptr<platform::DispatchQueue> serializationQueue;
  std::shared_ptr<RequestInterceptor> interceptor;
  // Hooks the layer keeps a slot for; they stay empty.
  std::shared_ptr<ServerTrustManager> serverTrustManager;
  std::shared_ptr<RedirectHandler> redirectHandler;
  std::shared_ptr<CachedResponseHandler> cachedResponseHandler;
  // Default: the request-notifications monitor alone.
  std::optional<std::vector<std::shared_ptr<EventMonitor>>> eventMonitors;
};

// The entry object of the HTTP layer: makes requests and drives each through its attempts
// (build the URL request, adapt it, make the transport task, align the task with the
// request's state, decide about retries), owning the transport session, its delegate, the
// queues and the request <-> task bookkeeping.
//
// Threads: `requestTaskMap_`, `activeRequests_` and `waitingCompletions_` belong to the root
// queue and are touched nowhere else; everything else is fixed at construction. Request
// creation, withAllRequests and cancelAllRequests may be called from any thread.
//
// Ownership: a session holds each request from its first attempt (or from a retry that a
// response handler of a finished request asked for) until its completions have run; requests
// and the transport delegate refer back to it weakly. Dropping the last reference to a
// session ends its requests with sessionDeinitialized and cancels the transport's tasks.
class Session final : public RequestDelegate,
                      public SessionStateProvider,
                      public std::enable_shared_from_this<Session> {
 public:
  using QueuePtr = std::shared_ptr<platform::DispatchQueue>;

  static constexpr const char* kRootQueueLabel = "net.tolvane.http.session.rootQueue";

  using Settings = SessionSettings;

  // The usual way to make a session. Defaults: the platform's default configuration with
  // the default headers added, a new delegate, a new root queue labelled kRootQueueLabel.
  // A root queue other than the main queue is never used directly: a new queue with its
  // label that targets it becomes the root queue.
  [[nodiscard]] static std::shared_ptr<Session> make(
      std::optional<platform::URLSessionConfiguration> configuration = {},
      std::shared_ptr<SessionDelegate> delegate = {}, QueuePtr rootQueue = {},
      Settings settings = {});
  // From a transport session that is already set up; its delegate queue must run on
  // `rootQueue` and its delegate must be `delegate`.
  [[nodiscard]] static std::shared_ptr<Session> makeWithTransport(
      std::shared_ptr<platform::URLSession> session, std::shared_ptr<SessionDelegate> delegate,
      QueuePtr rootQueue, Settings settings = {});

  // The process-wide session, made with every default on first use (thread-safe).
  [[nodiscard]] static const std::shared_ptr<Session>& defaultSession();
  // Adds a monitor (a diagnostic trace, say) to those the default session is made with.
  // Only monitors added before the default session's first use take effect.
  static void addDefaultSessionEventMonitor(std::shared_ptr<EventMonitor> monitor);

  // The platform's default configuration with the default headers added.
  [[nodiscard]] static platform::URLSessionConfiguration defaultConfiguration();

  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  [[nodiscard]] const std::shared_ptr<platform::URLSession>& session() const { return session_; }
  [[nodiscard]] const std::shared_ptr<SessionDelegate>& delegate() const { return delegate_; }
  [[nodiscard]] const QueuePtr& rootQueue() const { return rootQueue_; }
  [[nodiscard]] bool startRequestsImmediately() const { return startRequestsImmediately_; }
  [[nodiscard]] const QueuePtr& requestQueue() const { return requestQueue_; }
  [[nodiscard]] const QueuePtr& serializationQueue() const { return serializationQueue_; }
  [[nodiscard]] const std::shared_ptr<RequestInterceptor>& interceptor() const {
    return interceptor_;
  }
  [[nodiscard]] const std::shared_ptr<CompositeEventMonitor>& eventMonitor() const {
    return eventMonitor_;
  }
  // A one-element list with a new request-notifications monitor; not used to build eventMonitor.
  [[nodiscard]] std::vector<std::shared_ptr<EventMonitor>> defaultEventMonitors() const;

  // Data request by URL: the arguments become a RequestConvertible built anew at each attempt.
  std::shared_ptr<DataRequest> request(URLConvertible url, HTTPMethod method = HTTPMethod::get,
                                       std::optional<Parameters> parameters = std::nullopt,
                                       std::shared_ptr<const ParameterEncoding> encoding = nullptr,
                                       std::optional<HTTPHeaders> headers = std::nullopt,
                                       std::shared_ptr<RequestInterceptor> interceptor = nullptr,
                                       RequestModifier requestModifier = nullptr);
  // Data request from anything that builds a URL request.
  std::shared_ptr<DataRequest> request(std::shared_ptr<const URLRequestConvertible> convertible,
                                       std::shared_ptr<RequestInterceptor> interceptor = nullptr);

  // Download by URL; without a destination the file stays next to the transport's
  // temporary file (DownloadRequest::defaultDestination).
  std::shared_ptr<DownloadRequest> download(
      URLConvertible url, HTTPMethod method = HTTPMethod::get,
      std::optional<Parameters> parameters = std::nullopt,
      std::shared_ptr<const ParameterEncoding> encoding = nullptr,
      std::optional<HTTPHeaders> headers = std::nullopt,
      std::shared_ptr<RequestInterceptor> interceptor = nullptr,
      RequestModifier requestModifier = nullptr,
      DownloadRequest::Destination destination = nullptr);
  // Download from anything that builds a URL request.
  std::shared_ptr<DownloadRequest> download(
      std::shared_ptr<const URLRequestConvertible> convertible,
      std::shared_ptr<RequestInterceptor> interceptor = nullptr,
      DownloadRequest::Destination destination = nullptr);
  // Continues an earlier download from the resume data it left.
  std::shared_ptr<DownloadRequest> downloadResumingWith(
      platform::Data resumeData, std::shared_ptr<RequestInterceptor> interceptor = nullptr,
      DownloadRequest::Destination destination = nullptr);

  // What a request made by this session starts with: a fresh id, the queues, the monitor,
  // the given interceptor and this session as delegate.
  [[nodiscard]] Request::Context requestContext(std::shared_ptr<RequestInterceptor> interceptor);
  // Starts an attempt of `request` (its first, or a retry). Data requests and their
  // subclasses are supported; any other kind stops the process.
  void perform(const std::shared_ptr<Request>& request);

  // Runs `action` with the requests in flight, on the root queue.
  void withAllRequests(std::function<void(const std::vector<std::shared_ptr<Request>>&)> action);
  // Cancels every request in flight, then runs `completion` on `queue`.
  void cancelAllRequests(QueuePtr queue = platform::DispatchQueue::main(),
                         std::function<void()> completion = nullptr);

  // RequestDelegate.
  [[nodiscard]] const platform::URLSessionConfiguration& sessionConfiguration() const override;
  [[nodiscard]] bool startImmediately() const override { return startRequestsImmediately_; }
  void cleanup(const std::shared_ptr<Request>& request) override;
  void retryResult(const std::shared_ptr<Request>& request, const HTTPError& error,
                   std::function<void(RetryResult)> completion) override;
  void scheduleRetry(const std::shared_ptr<Request>& request, std::optional<double> delay) override;

  // SessionStateProvider.
  [[nodiscard]] std::shared_ptr<ServerTrustManager> serverTrustManager() const override {
    return serverTrustManager_;
  }
  [[nodiscard]] std::shared_ptr<RedirectHandler> redirectHandler() const override {
    return redirectHandler_;
  }
  [[nodiscard]] std::shared_ptr<CachedResponseHandler> cachedResponseHandler() const override {
    return cachedResponseHandler_;
  }
  [[nodiscard]] std::shared_ptr<Request> request(
      const platform::URLSessionTask& task) const override;
  void taskMetricsGathered(const platform::URLSessionTask& task) override;
  void taskCompleted(const platform::URLSessionTask& task,
                     std::function<void()> completion) override;
  [[nodiscard]] std::optional<platform::URLCredential> credential(
      const platform::URLSessionTask& task,
      const platform::URLAuthenticationChallenge& challenge) const override;
  void finishAllForInvalidation(const platform::ErrorPtr& error) override;

  // Root-queue bookkeeping, readable on the root queue (for diagnostics and tests).
  [[nodiscard]] std::size_t activeRequestCount() const;
  [[nodiscard]] const RequestTaskMap& requestTaskMap() const;

  struct Token;  // restricts construction to the factories
  Session(Token, std::shared_ptr<platform::URLSession> session,
          std::shared_ptr<SessionDelegate> delegate, QueuePtr rootQueue, Settings settings);

 private:
  void performDataRequest(const std::shared_ptr<DataRequest>& request);
  void performDownloadRequest(const std::shared_ptr<DownloadRequest>& request);
  void prepareAttempt(const std::shared_ptr<Request>& request,
                      const std::shared_ptr<const URLRequestConvertible>& convertible);
  void createTask(const platform::URLRequest& urlRequest, const std::shared_ptr<Request>& request);
  // Maps a new task, tells the request and brings the task into the request's state.
  void didCreateTask(const platform::TaskPtr& task, const std::shared_ptr<Request>& request);
  // Runs under the request's lock (Request::didCreateTask), with the request's state.
  void updateStatesForTask(const platform::TaskPtr& task, const std::shared_ptr<Request>& request,
                           Request::State state);
  [[nodiscard]] std::shared_ptr<RequestAdapter> adapter(const Request& request) const;
  [[nodiscard]] std::shared_ptr<RequestRetrier> retrier(const Request& request) const;

  const std::shared_ptr<platform::URLSession> session_;
  const std::shared_ptr<SessionDelegate> delegate_;
  const QueuePtr rootQueue_;
  const bool startRequestsImmediately_;
  const QueuePtr requestQueue_;
  const QueuePtr serializationQueue_;
  const std::shared_ptr<RequestInterceptor> interceptor_;
  const std::shared_ptr<ServerTrustManager> serverTrustManager_;
  const std::shared_ptr<RedirectHandler> redirectHandler_;
  const std::shared_ptr<CachedResponseHandler> cachedResponseHandler_;
  const std::shared_ptr<CompositeEventMonitor> eventMonitor_;

  // Root queue only.
  RequestTaskMap requestTaskMap_;
  std::unordered_map<platform::UUID, std::shared_ptr<Request>> activeRequests_;
  std::unordered_map<const platform::URLSessionTask*, std::function<void()>> waitingCompletions_;
};

}  // namespace tolvane::http
