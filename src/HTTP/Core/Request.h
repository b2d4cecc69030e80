#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "HTTP/Core/HTTPError.h"
#include "Platform/DispatchQueue.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/Protected.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSession.h"
#include "Platform/URLSessionTaskMetrics.h"
#include "Platform/UUID.h"

namespace tolvane::http {

class DataRequest;
class DownloadRequest;
class EventMonitor;
class RequestDelegate;
class RequestInterceptor;
class Session;
class SessionDelegate;
namespace detail {
struct ResponseLayer;
}

// Proof that the caller drives requests: only the session, the transport delegate, the
// request kinds and the response layer can make one. A request's lifecycle calls take it, so
// code holding a request can use its public surface but cannot step its state machine.
class RequestKey {
  RequestKey() = default;
  friend class Request;
  friend class DataRequest;
  friend class DownloadRequest;
  friend class Session;
  friend class SessionDelegate;
  friend struct detail::ResponseLayer;
};

// Hook types the layer keeps a slot for but never fills.
class RedirectHandler;
class CachedResponseHandler;

// One logical request through all its attempts: the URL requests and transport tasks of
// every attempt, progress, the error, the retry count, validators and queued response
// serializers, and a small state machine (initialized, resumed, suspended, cancelled,
// finished).
//
// Threads: the public state operations and handler registrations may be called from any
// thread. The lifecycle calls (those taking a RequestKey; the events did...) are called by the
// session and the transport delegate on the underlying queue (the session's root queue) and stop
// the process elsewhere. All mutable state sits in `mutableState_` behind its lock; the validators
// list has a lock of its own; the two are never held together, and no user closure runs under
// either.
//
// Requests are shared objects (std::shared_ptr); a request refers to its session only
// weakly, so a dropped session ends its requests instead of being kept alive by them.
class Request : public std::enable_shared_from_this<Request> {
 public:
  enum class State { initialized, resumed, suspended, cancelled, finished };

  // Unit counts of a transfer. Read from any thread; written on the underlying queue.
  class Progress {
   public:
    [[nodiscard]] std::int64_t totalUnitCount() const { return total_.load(); }
    [[nodiscard]] std::int64_t completedUnitCount() const { return completed_.load(); }
    void setTotalUnitCount(std::int64_t value) { total_.store(value); }
    void setCompletedUnitCount(std::int64_t value) { completed_.store(value); }
    // completed / total, 0 while the total is unknown or 0.
    [[nodiscard]] double fractionCompleted() const;

   private:
    std::atomic<std::int64_t> total_{0};
    std::atomic<std::int64_t> completed_{0};
  };

  using QueuePtr = std::shared_ptr<platform::DispatchQueue>;
  using ProgressHandler = std::function<void(const Progress&)>;
  using Closure = std::function<void()>;

  // What a request gets from the session that makes it.
  struct Context {
    platform::UUID id;
    QueuePtr underlyingQueue;
    QueuePtr serializationQueue;
    std::shared_ptr<EventMonitor> eventMonitor;
    std::shared_ptr<RequestInterceptor> interceptor;
    std::weak_ptr<RequestDelegate> delegate;
  };

  struct MutableState {
    State state = State::initialized;
    std::optional<std::pair<ProgressHandler, QueuePtr>> uploadProgressHandler;
    std::optional<std::pair<ProgressHandler, QueuePtr>> downloadProgressHandler;
    std::shared_ptr<RedirectHandler> redirectHandler;
    std::shared_ptr<CachedResponseHandler> cachedResponseHandler;
    std::optional<std::pair<std::function<void(const platform::URLRequest&)>, QueuePtr>>
        urlRequestHandler;
    std::optional<std::pair<std::function<void(const platform::TaskPtr&)>, QueuePtr>>
        urlSessionTaskHandler;
    std::vector<Closure> responseSerializers;
    std::vector<Closure> responseSerializerCompletions;
    bool responseSerializerProcessingFinished = false;
    std::optional<platform::URLCredential> credential;
    std::vector<platform::URLRequest> requests;
    std::vector<platform::TaskPtr> tasks;
    std::vector<platform::URLSessionTaskMetrics> metrics;
    int retryCount = 0;
    std::optional<HTTPError> error;
    bool isFinishing = false;
    std::vector<Closure> finishHandlers;
  };

  explicit Request(Context context);
  virtual ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // Identity: two requests are the same request exactly when their ids are equal.
  [[nodiscard]] const platform::UUID& id() const { return id_; }
  [[nodiscard]] const QueuePtr& underlyingQueue() const { return underlyingQueue_; }
  [[nodiscard]] const QueuePtr& serializationQueue() const { return serializationQueue_; }
  [[nodiscard]] const std::shared_ptr<EventMonitor>& eventMonitor() const { return eventMonitor_; }
  [[nodiscard]] const std::shared_ptr<RequestInterceptor>& interceptor() const {
    return interceptor_;
  }
  [[nodiscard]] std::shared_ptr<RequestDelegate> delegate() const { return delegate_.lock(); }
  [[nodiscard]] const std::shared_ptr<Progress>& uploadProgress() const { return uploadProgress_; }
  [[nodiscard]] const std::shared_ptr<Progress>& downloadProgress() const {
    return downloadProgress_;
  }

  // Read-only views, each taken under the lock.
  [[nodiscard]] State state() const;
  [[nodiscard]] bool isInitialized() const { return state() == State::initialized; }
  [[nodiscard]] bool isResumed() const { return state() == State::resumed; }
  [[nodiscard]] bool isSuspended() const { return state() == State::suspended; }
  [[nodiscard]] bool isCancelled() const { return state() == State::cancelled; }
  [[nodiscard]] bool isFinished() const { return state() == State::finished; }
  [[nodiscard]] std::vector<platform::URLRequest> requests() const;
  [[nodiscard]] std::optional<platform::URLRequest> lastRequest() const;
  [[nodiscard]] std::vector<platform::URLRequest> performedRequests() const;
  [[nodiscard]] std::vector<platform::TaskPtr> tasks() const;
  [[nodiscard]] platform::TaskPtr firstTask() const;
  [[nodiscard]] platform::TaskPtr lastTask() const;
  [[nodiscard]] std::vector<platform::URLSessionTaskMetrics> allMetrics() const;
  [[nodiscard]] std::optional<platform::URLSessionTaskMetrics> firstMetrics() const;
  [[nodiscard]] std::optional<platform::URLSessionTaskMetrics> lastMetrics() const;
  [[nodiscard]] int retryCount() const;
  [[nodiscard]] std::optional<HTTPError> error() const;
  [[nodiscard]] std::optional<platform::URLCredential> credential() const;
  // The HTTP response of the current attempt's task, if it has one.
  [[nodiscard]] std::shared_ptr<const platform::HTTPURLResponse> response() const;

  // State operations; any thread. A change the state machine forbids is ignored. Whatever
  // type the request is called through, cancel() cancels the way its kind does
  // (cancelRequest).
  std::shared_ptr<Request> resume();
  std::shared_ptr<Request> suspend();
  std::shared_ptr<Request> cancel();

  // Registrations; any thread. Handlers run asynchronously on the queue given with them.
  std::shared_ptr<Request> downloadProgress(QueuePtr queue, ProgressHandler handler);
  std::shared_ptr<Request> uploadProgress(QueuePtr queue, ProgressHandler handler);
  std::shared_ptr<Request> onURLRequestCreation(
      QueuePtr queue, std::function<void(const platform::URLRequest&)> handler);
  std::shared_ptr<Request> onURLSessionTaskCreation(
      QueuePtr queue, std::function<void(const platform::TaskPtr&)> handler);
  std::shared_ptr<Request> authenticate(platform::URLCredential credential);
  // Runs once, on the underlying queue, when the request has run its response completions.
  void addFinishHandler(Closure handler);

  // The calls below take a RequestKey: they belong to the session, the transport delegate and
  // the response layer.

  // The response layer's hooks; any thread. A serializer runs on the serialization queue
  // and ends by calling responseSerializerFinished with the completion that delivers its
  // result; serializers run one after another in the order added. Adding one to a finished
  // request runs serialization again.
  void addResponseSerializer(RequestKey, Closure serializer);
  void responseSerializerFinished(RequestKey, Closure completion);
  // Validators run once, in the order added, when a task completes.
  void addValidator(RequestKey, Closure validator);
  // Records an error found after the transport finished (validation, file placement).
  void setError(RequestKey, HTTPError error);

  // The task for one attempt; each request kind makes its own.
  [[nodiscard]] virtual platform::TaskPtr makeTask(RequestKey, const platform::URLRequest& request,
                                                   platform::URLSession& session) = 0;

  // A serializer's failure asked for another attempt. Unless the request was cancelled
  // meanwhile (false: deliver now), the finish that ran the serializer is abandoned, so a
  // cancel or a dropped session can still end the request before that attempt starts.
  [[nodiscard]] bool awaitNextAttempt(RequestKey);

  // Events from the session and the transport delegate; underlying queue only.
  void didCreateInitialURLRequest(RequestKey, const platform::URLRequest& request);
  void didFailToCreateURLRequest(RequestKey, const HTTPError& error);
  void didAdaptInitialRequest(RequestKey, const platform::URLRequest& initial,
                              const platform::URLRequest& adapted);
  void didFailToAdaptURLRequest(RequestKey, const platform::URLRequest& request,
                                const HTTPError& error);
  void didCreateURLRequest(RequestKey, const platform::URLRequest& request);
  // `align` brings the new task into the request's state; it runs under the request's lock.
  void didCreateTask(RequestKey, const platform::TaskPtr& task,
                     const std::function<void(State)>& align = {});
  void didResume(RequestKey);
  void didSuspend(RequestKey);
  void didCancel(RequestKey);
  void didResumeTask(RequestKey, const platform::TaskPtr& task);
  void didSuspendTask(RequestKey, const platform::TaskPtr& task);
  void didCancelTask(RequestKey, const platform::TaskPtr& task);
  void didGatherMetrics(RequestKey, const platform::URLSessionTaskMetrics& metrics);
  void didFailTask(RequestKey, const platform::TaskPtr& task, const HTTPError& error);
  void didCompleteTask(RequestKey, const platform::TaskPtr& task,
                       const std::optional<HTTPError>& error);
  void updateUploadProgress(RequestKey, std::int64_t totalBytesSent,
                            std::int64_t totalBytesExpectedToSend);
  void prepareForNextAttempt(RequestKey);
  void retryOrFinish(RequestKey, const std::optional<HTTPError>& error);
  void finish(RequestKey, const std::optional<HTTPError>& error = std::nullopt);

  [[nodiscard]] static bool allowsTransition(State from, State to);

  friend bool operator==(const Request& a, const Request& b) { return a.id_ == b.id_; }

 protected:
  // What cancel() does; any thread. Kinds whose tasks cancel their own way override it.
  virtual void cancelRequest();
  // Clears what an attempt left behind before the next one; kinds extend it.
  virtual void reset();
  // The final error replaces the last attempt's own, which nobody can read any more; kinds
  // release what it held (underlying queue).
  virtual void errorReplaced(const HTTPError& /*replaced*/) {}
  // The error a completed task leaves on the request: the task's own by default. Kinds that
  // give a transport failure a meaning of their own translate it here (underlying queue).
  [[nodiscard]] virtual std::optional<HTTPError> taskCompletionError(
      const std::optional<HTTPError>& error) {
    return error;
  }
  // Sends an event to the monitor, if there is one.
  void notify(const std::function<void(EventMonitor&)>& event) const;
  void callDownloadProgressHandler();
  void assertOnUnderlyingQueue() const { underlyingQueue_->dispatchPreconditionOnQueue(); }

  platform::Protected<MutableState> mutableState_;

 private:
  void runNextResponseSerializer();
  void cleanup();

  const platform::UUID id_;
  const QueuePtr underlyingQueue_;
  const QueuePtr serializationQueue_;
  const std::shared_ptr<EventMonitor> eventMonitor_;
  const std::shared_ptr<RequestInterceptor> interceptor_;
  const std::weak_ptr<RequestDelegate> delegate_;
  const std::shared_ptr<Progress> uploadProgress_ = std::make_shared<Progress>();
  const std::shared_ptr<Progress> downloadProgress_ = std::make_shared<Progress>();
  platform::Protected<std::vector<Closure>> validators_;
};

}  // namespace tolvane::http
