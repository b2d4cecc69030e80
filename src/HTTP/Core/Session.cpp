#include "HTTP/Core/Session.h"

#include <mutex>
#include <typeinfo>

#include "HTTP/Core/CompositeEventMonitor.h"
#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/RequestAdapterState.h"
#include "HTTP/Core/RequestInterceptor.h"
#include "HTTP/Core/SessionDelegate.h"
#include "HTTP/Core/URLEncoding.h"
#include "HTTP/Retry/Interceptor.h"
#include "Platform/Fatal.h"
#include "Platform/TypeName.h"

namespace tolvane::http {

using platform::DispatchQueue;
using platform::TaskPtr;
using platform::URLRequest;

struct Session::Token {};

namespace {

[[noreturn]] void stop(const std::string& message) { platform::fatalError(message); }

std::string qualifiedTypeName(const Request& request) {
  return platform::typeName(typeid(request));
}

// The slot for request notifications. Nothing in this program listens to them, so it
// ignores every event; it takes them on a queue of its own rather than the main queue so
// that ignoring them never wakes the main thread.
class RequestNotificationsMonitor final : public EventMonitor {
 public:
  [[nodiscard]] std::shared_ptr<DispatchQueue> queue() const override { return queue_; }

 private:
  // Owned, not shared through a static: events still in flight when the process exits must
  // not outlive their queue.
  std::shared_ptr<DispatchQueue> queue_ =
      DispatchQueue::make("net.tolvane.http.requestNotifications");
};

// A GET carrying a body (even an empty one) is refused before it reaches the transport.
std::optional<HTTPError> validate(const URLRequest& request) {
  if (request.httpMethod == "GET" && request.httpBody) {
    return HTTPError::urlRequestValidationFailed(
        {HTTPError::URLRequestValidationFailureReason::Kind::bodyDataInGETRequest,
         *request.httpBody});
  }
  return std::nullopt;
}

}  // namespace

// Construction

platform::URLSessionConfiguration Session::defaultConfiguration() {
  auto configuration = platform::URLSessionConfiguration::defaultConfiguration();
  setHeaders(configuration, HTTPHeaders::defaultHeaders());
  return configuration;
}

std::shared_ptr<Session> Session::make(
    std::optional<platform::URLSessionConfiguration> configuration,
    std::shared_ptr<SessionDelegate> delegate, QueuePtr rootQueue, Settings settings) {
  if (!configuration) configuration = defaultConfiguration();
  if (configuration->identifier) stop("Background session configurations are not supported.");
  if (!delegate) delegate = std::make_shared<SessionDelegate>();
  if (!rootQueue) rootQueue = DispatchQueue::make(kRootQueueLabel);
  // Work is only ever put on a private queue targeting the caller's queue, so the caller's
  // other work cannot interleave with the session's bookkeeping.
  QueuePtr serialRootQueue = rootQueue == DispatchQueue::main()
                                 ? rootQueue
                                 : DispatchQueue::make(rootQueue->label(), rootQueue);
  auto delegateQueue =
      DispatchQueue::make(serialRootQueue->label() + ".sessionDelegate", serialRootQueue);
  auto transport =
      platform::URLSession::make(std::move(*configuration), delegate, std::move(delegateQueue));
  return makeWithTransport(std::move(transport), std::move(delegate), std::move(serialRootQueue),
                           std::move(settings));
}

std::shared_ptr<Session> Session::makeWithTransport(std::shared_ptr<platform::URLSession> session,
                                                    std::shared_ptr<SessionDelegate> delegate,
                                                    QueuePtr rootQueue, Settings settings) {
  if (session->configuration().identifier)
    stop("Background session configurations are not supported.");
  const auto& delegateQueue = session->delegateQueue();
  if (delegateQueue != rootQueue && delegateQueue->target() != rootQueue) {
    stop("Session: the transport's delegate queue must run on the session's root queue.");
  }
  auto made = std::make_shared<Session>(Token{}, std::move(session), std::move(delegate),
                                        std::move(rootQueue), std::move(settings));
  made->delegate_->setEventMonitor(made->eventMonitor_);
  made->delegate_->setStateProvider(std::weak_ptr<SessionStateProvider>(made));
  return made;
}

Session::Session(Token, std::shared_ptr<platform::URLSession> session,
                 std::shared_ptr<SessionDelegate> delegate, QueuePtr rootQueue, Settings settings)
    : session_(std::move(session)),
      delegate_(std::move(delegate)),
      rootQueue_(std::move(rootQueue)),
      startRequestsImmediately_(settings.startRequestsImmediately),
      requestQueue_(settings.requestQueue
                        ? settings.requestQueue
                        : DispatchQueue::make(rootQueue_->label() + ".requestQueue", rootQueue_)),
      serializationQueue_(
          settings.serializationQueue
              ? settings.serializationQueue
              : DispatchQueue::make(rootQueue_->label() + ".serializationQueue", rootQueue_)),
      interceptor_(std::move(settings.interceptor)),
      serverTrustManager_(std::move(settings.serverTrustManager)),
      redirectHandler_(std::move(settings.redirectHandler)),
      cachedResponseHandler_(std::move(settings.cachedResponseHandler)),
      eventMonitor_(std::make_shared<CompositeEventMonitor>(
          settings.eventMonitors ? std::move(*settings.eventMonitors) : defaultEventMonitors())) {}

Session::~Session() {
  // Nothing else references this session any more, so its root-queue state can be read
  // here. Requests waiting on the transport are in the task map; those between attempts
  // (adapting, waiting out a retry delay, asking a retrier) are only in the active set, and
  // would otherwise never end, as the steps that would continue them need the session.
  std::unordered_map<platform::UUID, std::shared_ptr<Request>> pending = activeRequests_;
  for (const auto& request : requestTaskMap_.requests()) pending.emplace(request->id(), request);
  for (auto& [id, request] : pending) {
    rootQueue_->async([request = std::move(request)] {
      request->finish(RequestKey{}, HTTPError::sessionDeinitialized());
    });
  }
  session_->invalidateAndCancel();
}

namespace {

struct ExtraDefaultMonitors {
  std::mutex mutex;
  std::vector<std::shared_ptr<EventMonitor>> monitors;
};

ExtraDefaultMonitors& extraDefaultMonitors() {
  static ExtraDefaultMonitors extra;
  return extra;
}

}  // namespace

void Session::addDefaultSessionEventMonitor(std::shared_ptr<EventMonitor> monitor) {
  auto& extra = extraDefaultMonitors();
  std::lock_guard lock(extra.mutex);
  extra.monitors.push_back(std::move(monitor));
}

const std::shared_ptr<Session>& Session::defaultSession() {
  static const std::shared_ptr<Session> session = [] {
    Settings settings;
    settings.eventMonitors =
        std::vector<std::shared_ptr<EventMonitor>>{std::make_shared<RequestNotificationsMonitor>()};
    auto& extra = extraDefaultMonitors();
    std::lock_guard lock(extra.mutex);
    settings.eventMonitors->insert(settings.eventMonitors->end(), extra.monitors.begin(),
                                   extra.monitors.end());
    return make({}, {}, {}, std::move(settings));
  }();
  return session;
}

std::vector<std::shared_ptr<EventMonitor>> Session::defaultEventMonitors() const {
  return {std::make_shared<RequestNotificationsMonitor>()};
}

const platform::URLSessionConfiguration& Session::sessionConfiguration() const {
  return session_->configuration();
}

// Requests

Request::Context Session::requestContext(std::shared_ptr<RequestInterceptor> interceptor) {
  return Request::Context{platform::UUID(),       rootQueue_,
                          serializationQueue_,    eventMonitor_,
                          std::move(interceptor), weak_from_this()};
}

std::shared_ptr<DataRequest> Session::request(URLConvertible url, HTTPMethod method,
                                              std::optional<Parameters> parameters,
                                              std::shared_ptr<const ParameterEncoding> encoding,
                                              std::optional<HTTPHeaders> headers,
                                              std::shared_ptr<RequestInterceptor> interceptor,
                                              RequestModifier requestModifier) {
  if (!encoding) encoding = std::make_shared<const URLEncoding>();
  auto convertible = std::make_shared<const RequestConvertible>(
      std::move(url), std::move(method), std::move(parameters), std::move(encoding),
      std::move(headers), std::move(requestModifier));
  return request(std::move(convertible), std::move(interceptor));
}

std::shared_ptr<DataRequest> Session::request(
    std::shared_ptr<const URLRequestConvertible> convertible,
    std::shared_ptr<RequestInterceptor> interceptor) {
  auto request = DataRequest::make(std::move(convertible), requestContext(std::move(interceptor)));
  perform(request);
  return request;
}

// Pipeline

// The quick hops between queues hold the session strongly (they end soon and make no
// cycle); closures that wait for others (adapters, retriers, retry delays) hold it weakly.
void Session::perform(const std::shared_ptr<Request>& request) {
  rootQueue_->async([self = shared_from_this(), request] {
    if (request->isCancelled()) return;
    self->activeRequests_.emplace(request->id(), request);
    self->requestQueue_->async([self, request] {
      if (auto data = std::dynamic_pointer_cast<DataRequest>(request)) {
        self->performDataRequest(data);
        return;
      }
      if (auto download = std::dynamic_pointer_cast<DownloadRequest>(request)) {
        self->performDownloadRequest(download);
        return;
      }
      stop("Attempted to perform unsupported Request subclass: " + qualifiedTypeName(*request));
    });
  });
}

void Session::performDataRequest(const std::shared_ptr<DataRequest>& request) {
  requestQueue_->dispatchPreconditionOnQueue();
  prepareAttempt(request, request->convertible());
}

void Session::performDownloadRequest(const std::shared_ptr<DownloadRequest>& request) {
  requestQueue_->dispatchPreconditionOnQueue();
  if (auto convertible = request->downloadable().convertible();
      convertible && !request->retryResumeData()) {
    prepareAttempt(request, convertible);
    return;
  }
  // Resume data carries its own request, adapted when it was first made: the task is made
  // from it directly.
  rootQueue_->async([self = shared_from_this(), request] {
    if (request->isCancelled()) return;
    self->didCreateTask(request->makeTaskFromResumeData(RequestKey{}, *self->session_), request);
  });
}

std::shared_ptr<DownloadRequest> Session::download(
    URLConvertible url, HTTPMethod method, std::optional<Parameters> parameters,
    std::shared_ptr<const ParameterEncoding> encoding, std::optional<HTTPHeaders> headers,
    std::shared_ptr<RequestInterceptor> interceptor, RequestModifier requestModifier,
    DownloadRequest::Destination destination) {
  if (!encoding) encoding = std::make_shared<const URLEncoding>();
  auto convertible = std::make_shared<const RequestConvertible>(
      std::move(url), std::move(method), std::move(parameters), std::move(encoding),
      std::move(headers), std::move(requestModifier));
  return download(std::move(convertible), std::move(interceptor), std::move(destination));
}

std::shared_ptr<DownloadRequest> Session::download(
    std::shared_ptr<const URLRequestConvertible> convertible,
    std::shared_ptr<RequestInterceptor> interceptor, DownloadRequest::Destination destination) {
  auto request =
      DownloadRequest::make(DownloadRequest::Downloadable::request(std::move(convertible)),
                            std::move(destination), requestContext(std::move(interceptor)));
  perform(request);
  return request;
}

std::shared_ptr<DownloadRequest> Session::downloadResumingWith(
    platform::Data resumeData, std::shared_ptr<RequestInterceptor> interceptor,
    DownloadRequest::Destination destination) {
  auto request =
      DownloadRequest::make(DownloadRequest::Downloadable::resumeData(std::move(resumeData)),
                            std::move(destination), requestContext(std::move(interceptor)));
  perform(request);
  return request;
}

void Session::prepareAttempt(const std::shared_ptr<Request>& request,
                             const std::shared_ptr<const URLRequestConvertible>& convertible) {
  requestQueue_->dispatchPreconditionOnQueue();
  auto built = convertible->asURLRequest();
  std::optional<HTTPError> failure = built.failure();
  if (!failure) failure = validate(built.value());
  if (failure) {
    rootQueue_->async([request, error = std::move(*failure)] {
      request->didFailToCreateURLRequest(RequestKey{}, error);
    });
    return;
  }
  const URLRequest initialRequest = std::move(built).value();
  rootQueue_->async([request, initialRequest] {
    request->didCreateInitialURLRequest(RequestKey{}, initialRequest);
  });

  if (request->isCancelled()) return;

  auto adapter = this->adapter(*request);
  if (!adapter) {
    rootQueue_->async([self = shared_from_this(), request, initialRequest] {
      self->createTask(initialRequest, request);
    });
    return;
  }

  std::weak_ptr<Session> weakSelf = weak_from_this();
  adapter->adapt(
      initialRequest, RequestAdapterState{request->id(), shared_from_this()},
      [weakSelf, rootQueue = rootQueue_, request, initialRequest](Result<URLRequest> result) {
        std::optional<HTTPError> failure;
        if (result.isFailure()) {
          failure = HTTPError::requestAdaptationFailed(platform::makeError(result.error()));
        } else if (auto invalid = validate(result.value())) {
          failure = HTTPError::requestAdaptationFailed(platform::makeError(*invalid));
        }
        if (failure) {
          rootQueue->async([weakSelf, request, initialRequest, error = std::move(*failure)] {
            if (weakSelf.lock())
              request->didFailToAdaptURLRequest(RequestKey{}, initialRequest, error);
          });
          return;
        }
        rootQueue->async([weakSelf, request, initialRequest, adapted = result.value()] {
          auto self = weakSelf.lock();
          if (!self) return;
          request->didAdaptInitialRequest(RequestKey{}, initialRequest, adapted);
          self->createTask(adapted, request);
        });
      });
}

void Session::createTask(const URLRequest& urlRequest, const std::shared_ptr<Request>& request) {
  rootQueue_->dispatchPreconditionOnQueue();
  request->didCreateURLRequest(RequestKey{}, urlRequest);
  if (request->isCancelled()) return;
  didCreateTask(request->makeTask(RequestKey{}, urlRequest, *session_), request);
}

void Session::didCreateTask(const TaskPtr& task, const std::shared_ptr<Request>& request) {
  rootQueue_->dispatchPreconditionOnQueue();
  requestTaskMap_.add(request, task);
  request->didCreateTask(RequestKey{}, task,
                         [&](Request::State state) { updateStatesForTask(task, request, state); });
}

void Session::updateStatesForTask(const TaskPtr& task, const std::shared_ptr<Request>& request,
                                  Request::State state) {
  rootQueue_->dispatchPreconditionOnQueue();
  switch (state) {
    case Request::State::initialized:
    case Request::State::finished:
      return;
    case Request::State::resumed:
      task->resume();
      rootQueue_->async([request, task] { request->didResumeTask(RequestKey{}, task); });
      return;
    case Request::State::suspended:
      task->suspend();
      rootQueue_->async([request, task] { request->didSuspendTask(RequestKey{}, task); });
      return;
    case Request::State::cancelled:
      // Resumed first so the task still reports metrics and completion.
      task->resume();
      task->cancel();
      rootQueue_->async([request, task] { request->didCancelTask(RequestKey{}, task); });
      return;
  }
}

std::shared_ptr<RequestAdapter> Session::adapter(const Request& request) const {
  const auto& own = request.interceptor();
  if (own && interceptor_) {
    return std::make_shared<Interceptor>(
        std::vector<std::shared_ptr<RequestAdapter>>{own, interceptor_});
  }
  if (own) return own;
  return interceptor_;
}

std::shared_ptr<RequestRetrier> Session::retrier(const Request& request) const {
  const auto& own = request.interceptor();
  if (own && interceptor_) {
    return std::make_shared<Interceptor>(
        std::vector<std::shared_ptr<RequestAdapter>>{},
        std::vector<std::shared_ptr<RequestRetrier>>{own, interceptor_});
  }
  if (own) return own;
  return interceptor_;
}

// RequestDelegate

void Session::cleanup(const std::shared_ptr<Request>& request) {
  rootQueue_->dispatchPreconditionOnQueue();
  activeRequests_.erase(request->id());
}

void Session::retryResult(const std::shared_ptr<Request>& request, const HTTPError& error,
                          std::function<void(RetryResult)> completion) {
  rootQueue_->dispatchPreconditionOnQueue();
  auto retrier = this->retrier(*request);
  if (!retrier) {
    rootQueue_->async(
        [completion = std::move(completion)] { completion(RetryResult::doNotRetry()); });
    return;
  }
  std::weak_ptr<Session> weakSelf = weak_from_this();
  retrier->retry(
      request, shared_from_this(), error,
      [weakSelf, rootQueue = rootQueue_, error,
       completion = std::move(completion)](RetryResult result) {
        rootQueue->async([weakSelf, error, completion, result = std::move(result)] {
          // The session that went away has tried to end the request, which a
          // response handler waiting for this answer holds off: it still hears
          // back, and delivers what it has.
          if (!weakSelf.lock()) {
            completion(RetryResult::doNotRetry());
            return;
          }
          if (result.kind() == RetryResult::Kind::doNotRetryWithError) {
            completion(RetryResult::doNotRetryWithError(platform::makeError(
                HTTPError::requestRetryFailed(result.error(), platform::makeError(error)))));
            return;
          }
          completion(result);
        });
      });
}

void Session::scheduleRetry(const std::shared_ptr<Request>& request, std::optional<double> delay) {
  rootQueue_->dispatchPreconditionOnQueue();
  // Held until the attempt starts, so that dropping the session meanwhile ends the request:
  // a handler added after the request had finished asks for its retry when the request is
  // no longer in the active set nor the task map. A cancelled request is ended by its
  // cancel, which may already have let go of it.
  if (!request->isCancelled()) activeRequests_.emplace(request->id(), request);
  std::weak_ptr<Session> weakSelf = weak_from_this();
  auto retry = [weakSelf, request] {
    auto self = weakSelf.lock();
    if (!self || request->isCancelled()) return;
    request->prepareForNextAttempt(RequestKey{});
    self->perform(request);
  };
  rootQueue_->async([rootQueue = rootQueue_, delay, retry = std::move(retry)] {
    if (delay) {
      rootQueue->asyncAfter(*delay, retry);
    } else {
      retry();
    }
  });
}

// SessionStateProvider

std::shared_ptr<Request> Session::request(const platform::URLSessionTask& task) const {
  rootQueue_->dispatchPreconditionOnQueue();
  return requestTaskMap_.request(task);
}

void Session::taskMetricsGathered(const platform::URLSessionTask& task) {
  rootQueue_->dispatchPreconditionOnQueue();
  if (!requestTaskMap_.recordMetrics(task)) return;
  auto parked = waitingCompletions_.find(&task);
  if (parked == waitingCompletions_.end()) return;
  auto completion = std::move(parked->second);
  waitingCompletions_.erase(parked);
  completion();
}

void Session::taskCompleted(const platform::URLSessionTask& task,
                            std::function<void()> completion) {
  rootQueue_->dispatchPreconditionOnQueue();
  if (requestTaskMap_.recordCompletion(task)) {
    completion();
  } else {
    waitingCompletions_[&task] = std::move(completion);
  }
}

std::optional<platform::URLCredential> Session::credential(
    const platform::URLSessionTask& task, const platform::URLAuthenticationChallenge&) const {
  rootQueue_->dispatchPreconditionOnQueue();
  // The transport keeps no credential store, so only the request's own credential counts.
  auto owner = requestTaskMap_.request(task);
  return owner ? owner->credential() : std::nullopt;
}

void Session::finishAllForInvalidation(const platform::ErrorPtr& error) {
  rootQueue_->dispatchPreconditionOnQueue();
  for (const auto& request : requestTaskMap_.requests())
    request->finish(RequestKey{}, HTTPError::sessionInvalidated(error));
}

// Bulk operations

void Session::withAllRequests(
    std::function<void(const std::vector<std::shared_ptr<Request>>&)> action) {
  rootQueue_->async([self = shared_from_this(), action = std::move(action)] {
    std::vector<std::shared_ptr<Request>> requests;
    requests.reserve(self->activeRequests_.size());
    for (const auto& [id, request] : self->activeRequests_) requests.push_back(request);
    action(requests);
  });
}

void Session::cancelAllRequests(QueuePtr queue, std::function<void()> completion) {
  withAllRequests(
      [queue = std::move(queue), completion = std::move(completion)](const auto& requests) {
        for (const auto& request : requests) request->cancel();
        if (completion) queue->async(completion);
      });
}

std::size_t Session::activeRequestCount() const {
  rootQueue_->dispatchPreconditionOnQueue();
  return activeRequests_.size();
}

const RequestTaskMap& Session::requestTaskMap() const {
  rootQueue_->dispatchPreconditionOnQueue();
  return requestTaskMap_;
}

}  // namespace tolvane::http
