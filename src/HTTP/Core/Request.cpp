#include "HTTP/Core/Request.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "HTTP/Core/EventMonitor.h"
#include "HTTP/Core/RequestDelegate.h"
#include "HTTP/Core/RequestInterceptor.h"

namespace tolvane::http {

using platform::TaskPtr;
using platform::URLRequest;
using platform::URLSessionTask;

double Request::Progress::fractionCompleted() const {
  const auto total = totalUnitCount();
  return total <= 0 ? 0.0 : static_cast<double>(completedUnitCount()) / static_cast<double>(total);
}

Request::Request(Context context)
    : id_(context.id),
      underlyingQueue_(std::move(context.underlyingQueue)),
      serializationQueue_(std::move(context.serializationQueue)),
      eventMonitor_(std::move(context.eventMonitor)),
      interceptor_(std::move(context.interceptor)),
      delegate_(std::move(context.delegate)) {}

Request::~Request() = default;

bool Request::allowsTransition(State from, State to) {
  switch (from) {
    case State::initialized:
      return to != State::initialized;
    case State::resumed:
      return to == State::suspended || to == State::cancelled || to == State::finished;
    case State::suspended:
      return to == State::resumed || to == State::cancelled || to == State::finished;
    case State::cancelled:
    case State::finished:
      return false;
  }
  return false;
}

// Views

Request::State Request::state() const {
  return mutableState_.read([](const MutableState& s) { return s.state; });
}

std::vector<URLRequest> Request::requests() const {
  return mutableState_.read([](const MutableState& s) { return s.requests; });
}

std::optional<URLRequest> Request::lastRequest() const {
  return mutableState_.read([](const MutableState& s) {
    return s.requests.empty() ? std::nullopt : std::optional<URLRequest>(s.requests.back());
  });
}

std::vector<URLRequest> Request::performedRequests() const {
  std::vector<URLRequest> result;
  for (const auto& task : tasks()) {
    if (auto current = task->currentRequest()) result.push_back(std::move(*current));
  }
  return result;
}

std::vector<TaskPtr> Request::tasks() const {
  return mutableState_.read([](const MutableState& s) { return s.tasks; });
}

TaskPtr Request::firstTask() const {
  return mutableState_.read(
      [](const MutableState& s) { return s.tasks.empty() ? nullptr : s.tasks.front(); });
}

TaskPtr Request::lastTask() const {
  return mutableState_.read(
      [](const MutableState& s) { return s.tasks.empty() ? nullptr : s.tasks.back(); });
}

std::vector<platform::URLSessionTaskMetrics> Request::allMetrics() const {
  return mutableState_.read([](const MutableState& s) { return s.metrics; });
}

std::optional<platform::URLSessionTaskMetrics> Request::firstMetrics() const {
  return mutableState_.read([](const MutableState& s) {
    return s.metrics.empty() ? std::nullopt : std::optional(s.metrics.front());
  });
}

std::optional<platform::URLSessionTaskMetrics> Request::lastMetrics() const {
  return mutableState_.read([](const MutableState& s) {
    return s.metrics.empty() ? std::nullopt : std::optional(s.metrics.back());
  });
}

int Request::retryCount() const {
  return mutableState_.read([](const MutableState& s) { return s.retryCount; });
}

std::optional<HTTPError> Request::error() const {
  return mutableState_.read([](const MutableState& s) { return s.error; });
}

std::optional<platform::URLCredential> Request::credential() const {
  return mutableState_.read([](const MutableState& s) { return s.credential; });
}

std::shared_ptr<const platform::HTTPURLResponse> Request::response() const {
  const TaskPtr task = lastTask();
  return task ? task->response() : nullptr;
}

// State operations

std::shared_ptr<Request> Request::resume() {
  auto self = shared_from_this();
  mutableState_.write([&](MutableState& s) {
    if (s.state != State::initialized && s.state != State::suspended) return;
    s.state = State::resumed;
    underlyingQueue_->async([self] { self->didResume(RequestKey{}); });
    TaskPtr task = s.tasks.empty() ? nullptr : s.tasks.back();
    if (!task || task->state() == URLSessionTask::State::completed) return;
    task->resume();
    underlyingQueue_->async([self, task] { self->didResumeTask(RequestKey{}, task); });
  });
  return self;
}

std::shared_ptr<Request> Request::suspend() {
  auto self = shared_from_this();
  mutableState_.write([&](MutableState& s) {
    if (s.state != State::initialized && s.state != State::resumed) return;
    s.state = State::suspended;
    underlyingQueue_->async([self] { self->didSuspend(RequestKey{}); });
    TaskPtr task = s.tasks.empty() ? nullptr : s.tasks.back();
    if (!task || task->state() == URLSessionTask::State::completed) return;
    task->suspend();
    underlyingQueue_->async([self, task] { self->didSuspendTask(RequestKey{}, task); });
  });
  return self;
}

std::shared_ptr<Request> Request::cancel() {
  cancelRequest();
  return shared_from_this();
}

void Request::cancelRequest() {
  auto self = shared_from_this();
  mutableState_.write([&](MutableState& s) {
    if (!allowsTransition(s.state, State::cancelled)) return;
    s.state = State::cancelled;
    underlyingQueue_->async([self] { self->didCancel(RequestKey{}); });
    TaskPtr task = s.tasks.empty() ? nullptr : s.tasks.back();
    if (!task || task->state() == URLSessionTask::State::completed) {
      // No transfer will report back, so nothing else would end the request.
      underlyingQueue_->async([self] { self->finish(RequestKey{}); });
      return;
    }
    // Resumed first so that a task that never ran still reports metrics and completion.
    task->resume();
    task->cancel();
    underlyingQueue_->async([self, task] { self->didCancelTask(RequestKey{}, task); });
  });
}

// Registrations

std::shared_ptr<Request> Request::downloadProgress(QueuePtr queue, ProgressHandler handler) {
  mutableState_.write([&](MutableState& s) {
    s.downloadProgressHandler.emplace(std::move(handler), std::move(queue));
  });
  return shared_from_this();
}

std::shared_ptr<Request> Request::uploadProgress(QueuePtr queue, ProgressHandler handler) {
  mutableState_.write([&](MutableState& s) {
    s.uploadProgressHandler.emplace(std::move(handler), std::move(queue));
  });
  return shared_from_this();
}

std::shared_ptr<Request> Request::onURLRequestCreation(
    QueuePtr queue, std::function<void(const URLRequest&)> handler) {
  mutableState_.write(
      [&](MutableState& s) { s.urlRequestHandler.emplace(std::move(handler), std::move(queue)); });
  return shared_from_this();
}

std::shared_ptr<Request> Request::onURLSessionTaskCreation(
    QueuePtr queue, std::function<void(const TaskPtr&)> handler) {
  mutableState_.write([&](MutableState& s) {
    s.urlSessionTaskHandler.emplace(std::move(handler), std::move(queue));
  });
  return shared_from_this();
}

std::shared_ptr<Request> Request::authenticate(platform::URLCredential credential) {
  mutableState_.write([&](MutableState& s) { s.credential = std::move(credential); });
  return shared_from_this();
}

void Request::addFinishHandler(Closure handler) {
  mutableState_.write([&](MutableState& s) { s.finishHandlers.push_back(std::move(handler)); });
}

void Request::addValidator(RequestKey /*key*/, Closure validator) {
  validators_.write([&](std::vector<Closure>& list) { list.push_back(std::move(validator)); });
}

void Request::setError(RequestKey /*key*/, HTTPError error) {
  mutableState_.write([&](MutableState& s) { s.error = std::move(error); });
}

// Response serializers

void Request::addResponseSerializer(RequestKey /*key*/, Closure serializer) {
  auto self = shared_from_this();
  mutableState_.write([&](MutableState& s) {
    s.responseSerializers.push_back(std::move(serializer));
    if (s.state == State::finished) s.state = State::resumed;
    if (s.responseSerializerProcessingFinished) {
      // One run picks up every serializer added until it ends; a second run started for
      // a handler added right after would serialize the pending one twice. The run is a
      // finish of its own: a cancel or a dropped session behind it must not start another.
      s.responseSerializerProcessingFinished = false;
      s.isFinishing = true;
      underlyingQueue_->async([self] { self->runNextResponseSerializer(); });
    }
    if (s.state == State::initialized || s.state == State::suspended) {
      underlyingQueue_->async([self] {
        auto delegate = self->delegate();
        if (delegate && delegate->startImmediately()) self->resume();
      });
    }
  });
}

void Request::responseSerializerFinished(RequestKey /*key*/, Closure completion) {
  mutableState_.write(
      [&](MutableState& s) { s.responseSerializerCompletions.push_back(std::move(completion)); });
  // Serializers call this from the serialization queue, which targets the underlying one.
  runNextResponseSerializer();
}

void Request::runNextResponseSerializer() {
  assertOnUnderlyingQueue();
  // Finding no pending serializer and ending the run are one step: a handler added between
  // the two would see the run going on, start none, and be dropped with the lists. The lists
  // are emptied before any completion runs, so a completion that calls back into the request
  // (cancel, another handler) finds a clean state; their closures, which hold the callers'
  // completions, are released outside the lock.
  Closure next;
  std::vector<Closure> serializers;
  std::vector<Closure> completions;
  mutableState_.write([&](MutableState& s) {
    const auto done = s.responseSerializerCompletions.size();
    if (done < s.responseSerializers.size()) {
      next = s.responseSerializers[done];
      return;
    }
    serializers = std::exchange(s.responseSerializers, {});
    completions = std::exchange(s.responseSerializerCompletions, {});
    if (allowsTransition(s.state, State::finished)) s.state = State::finished;
    s.responseSerializerProcessingFinished = true;
    s.isFinishing = false;
  });
  if (next) {
    serializationQueue_->async([self = shared_from_this(), next = std::move(next)] { next(); });
    return;
  }
  for (const auto& completion : completions) completion();
  cleanup();
}

void Request::cleanup() {
  // Taken in one hold of the lock: a handler added meanwhile (by one of these, say) is not
  // cleared unseen but waits for the request's next end.
  const std::vector<Closure> handlers =
      mutableState_.write([](MutableState& s) { return std::exchange(s.finishHandlers, {}); });
  for (const auto& handler : handlers) handler();
  if (auto delegate = this->delegate()) delegate->cleanup(shared_from_this());
}

bool Request::awaitNextAttempt(RequestKey /*key*/) {
  return mutableState_.write([](MutableState& s) {
    if (s.state == State::cancelled) return false;
    s.isFinishing = false;
    return true;
  });
}

// Events

void Request::notify(const std::function<void(EventMonitor&)>& event) const {
  if (eventMonitor_) event(*eventMonitor_);
}

void Request::didCreateInitialURLRequest(RequestKey /*key*/, const URLRequest& request) {
  assertOnUnderlyingQueue();
  mutableState_.write([&](MutableState& s) { s.requests.push_back(request); });
  notify(
      [&](EventMonitor& m) { m.requestDidCreateInitialURLRequest(shared_from_this(), request); });
}

void Request::didFailToCreateURLRequest(RequestKey /*key*/, const HTTPError& error) {
  assertOnUnderlyingQueue();
  mutableState_.write([&](MutableState& s) { s.error = error; });
  notify([&](EventMonitor& m) {
    m.requestDidFailToCreateURLRequestWithError(shared_from_this(), error);
  });
  retryOrFinish(RequestKey{}, error);
}

void Request::didAdaptInitialRequest(RequestKey /*key*/, const URLRequest& initial,
                                     const URLRequest& adapted) {
  assertOnUnderlyingQueue();
  mutableState_.write([&](MutableState& s) { s.requests.push_back(adapted); });
  notify([&](EventMonitor& m) {
    m.requestDidAdaptInitialRequestToAdaptedRequest(shared_from_this(), initial, adapted);
  });
}

void Request::didFailToAdaptURLRequest(RequestKey /*key*/, const URLRequest& request,
                                       const HTTPError& error) {
  assertOnUnderlyingQueue();
  mutableState_.write([&](MutableState& s) { s.error = error; });
  notify([&](EventMonitor& m) {
    m.requestDidFailToAdaptURLRequestWithError(shared_from_this(), request, error);
  });
  retryOrFinish(RequestKey{}, error);
}

void Request::didCreateURLRequest(RequestKey /*key*/, const URLRequest& request) {
  assertOnUnderlyingQueue();
  auto handler = mutableState_.read([](const MutableState& s) { return s.urlRequestHandler; });
  if (handler) handler->second->async([call = handler->first, request] { call(request); });
  notify([&](EventMonitor& m) { m.requestDidCreateURLRequest(shared_from_this(), request); });
}

void Request::didCreateTask(RequestKey /*key*/, const TaskPtr& task,
                            const std::function<void(State)>& align) {
  assertOnUnderlyingQueue();
  // The task becomes visible and is brought into the request's state under one hold of the
  // lock: a resume or cancel from another thread then acts on it either before it exists or
  // after it was aligned, never in between (which would send its task event twice).
  auto handler = mutableState_.write([&](MutableState& s) {
    s.tasks.push_back(task);
    if (align) align(s.state);
    return s.urlSessionTaskHandler;
  });
  if (handler) handler->second->async([call = handler->first, task] { call(task); });
  notify([&](EventMonitor& m) { m.requestDidCreateTask(shared_from_this(), task); });
}

void Request::didResume(RequestKey /*key*/) {
  assertOnUnderlyingQueue();
  notify([&](EventMonitor& m) { m.requestDidResume(shared_from_this()); });
}

void Request::didSuspend(RequestKey /*key*/) {
  assertOnUnderlyingQueue();
  notify([&](EventMonitor& m) { m.requestDidSuspend(shared_from_this()); });
}

void Request::didCancel(RequestKey /*key*/) {
  assertOnUnderlyingQueue();
  mutableState_.write([](MutableState& s) {
    if (!s.error) s.error = HTTPError::explicitlyCancelled();
  });
  notify([&](EventMonitor& m) { m.requestDidCancel(shared_from_this()); });
}

void Request::didResumeTask(RequestKey /*key*/, const TaskPtr& task) {
  assertOnUnderlyingQueue();
  notify([&](EventMonitor& m) { m.requestDidResumeTask(shared_from_this(), task); });
}

void Request::didSuspendTask(RequestKey /*key*/, const TaskPtr& task) {
  assertOnUnderlyingQueue();
  notify([&](EventMonitor& m) { m.requestDidSuspendTask(shared_from_this(), task); });
}

void Request::didCancelTask(RequestKey /*key*/, const TaskPtr& task) {
  assertOnUnderlyingQueue();
  notify([&](EventMonitor& m) { m.requestDidCancelTask(shared_from_this(), task); });
}

void Request::didGatherMetrics(RequestKey /*key*/, const platform::URLSessionTaskMetrics& metrics) {
  assertOnUnderlyingQueue();
  mutableState_.write([&](MutableState& s) { s.metrics.push_back(metrics); });
  notify([&](EventMonitor& m) { m.requestDidGatherMetrics(shared_from_this(), metrics); });
}

void Request::didFailTask(RequestKey /*key*/, const TaskPtr& task, const HTTPError& error) {
  assertOnUnderlyingQueue();
  mutableState_.write([&](MutableState& s) { s.error = error; });
  notify([&](EventMonitor& m) {
    m.requestDidFailTaskEarlyWithError(shared_from_this(), task, error);
  });
}

void Request::didCompleteTask(RequestKey /*key*/, const TaskPtr& task,
                              const std::optional<HTTPError>& error) {
  assertOnUnderlyingQueue();
  // An error recorded earlier (a cancel, a failed challenge) wins over the task's own.
  const auto recorded = taskCompletionError(error);
  mutableState_.write([&](MutableState& s) {
    if (!s.error) s.error = recorded;
  });
  const std::vector<Closure> validators = validators_.get();
  for (const auto& validator : validators) validator();
  notify(
      [&](EventMonitor& m) { m.requestDidCompleteTaskWithError(shared_from_this(), task, error); });
  retryOrFinish(RequestKey{}, this->error());
}

void Request::updateUploadProgress(RequestKey /*key*/, std::int64_t totalBytesSent,
                                   std::int64_t totalBytesExpectedToSend) {
  assertOnUnderlyingQueue();
  uploadProgress_->setTotalUnitCount(totalBytesExpectedToSend);
  uploadProgress_->setCompletedUnitCount(totalBytesSent);
  auto handler = mutableState_.read([](const MutableState& s) { return s.uploadProgressHandler; });
  if (handler)
    handler->second->async(
        [call = handler->first, progress = uploadProgress_] { call(*progress); });
}

void Request::callDownloadProgressHandler() {
  auto handler =
      mutableState_.read([](const MutableState& s) { return s.downloadProgressHandler; });
  if (handler)
    handler->second->async(
        [call = handler->first, progress = downloadProgress_] { call(*progress); });
}

void Request::prepareForNextAttempt(RequestKey /*key*/) {
  assertOnUnderlyingQueue();
  mutableState_.write([](MutableState& s) { s.retryCount += 1; });
  reset();
  notify([&](EventMonitor& m) { m.requestIsRetrying(shared_from_this()); });
}

void Request::reset() {
  mutableState_.write([](MutableState& s) { s.error.reset(); });
  uploadProgress_->setTotalUnitCount(0);
  uploadProgress_->setCompletedUnitCount(0);
  downloadProgress_->setTotalUnitCount(0);
  downloadProgress_->setCompletedUnitCount(0);
  mutableState_.write([](MutableState& s) {
    s.isFinishing = false;
    s.responseSerializerCompletions.clear();
  });
}

void Request::retryOrFinish(RequestKey /*key*/, const std::optional<HTTPError>& error) {
  assertOnUnderlyingQueue();
  auto delegate = this->delegate();
  if (isCancelled() || !error || !delegate) {
    finish(RequestKey{});
    return;
  }
  std::weak_ptr<Request> weakSelf = shared_from_this();
  delegate->retryResult(shared_from_this(), *error, [weakSelf](RetryResult result) {
    auto self = weakSelf.lock();
    if (!self) return;
    switch (result.kind()) {
      case RetryResult::Kind::doNotRetry:
        // A session that went away while its retrier was deciding has ended the request.
        if (self->delegate()) self->finish(RequestKey{});
        return;
      case RetryResult::Kind::doNotRetryWithError:
        self->finish(RequestKey{},
                     asHTTPError(result.error(), "Received retryError was not already HTTPError"));
        return;
      case RetryResult::Kind::retry:
      case RetryResult::Kind::retryWithDelay:
        if (auto delegate = self->delegate()) {
          delegate->scheduleRetry(self, result.delay());
        } else {
          // Without a session nothing could start the new attempt; end with what we have.
          self->finish(RequestKey{});
        }
        return;
    }
  });
}

void Request::finish(RequestKey /*key*/, const std::optional<HTTPError>& error) {
  assertOnUnderlyingQueue();
  std::optional<HTTPError> replaced;
  const bool proceed = mutableState_.write([&](MutableState& s) {
    if (s.isFinishing) return false;
    s.isFinishing = true;
    if (error) replaced = std::exchange(s.error, error);
    return true;
  });
  if (!proceed) return;
  if (replaced) errorReplaced(*replaced);
  runNextResponseSerializer();
  notify([&](EventMonitor& m) { m.requestDidFinish(shared_from_this()); });
}

}  // namespace tolvane::http
