#include "Platform/URLSession.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>

#include "Platform/CATrust.h"
#include "Platform/CurlMulti.h"
#include "Platform/ResumeData.h"
#include "Platform/TransferTask.h"

namespace tolvane::platform {
namespace {

struct ConstructibleTask final : URLSessionTask {
  explicit ConstructibleTask(std::unique_ptr<Impl> impl) : URLSessionTask(std::move(impl)) {}
};

}  // namespace

// ---- configuration ----------------------------------------------------------------------

URLSessionConfiguration URLSessionConfiguration::defaultConfiguration() {
  URLSessionConfiguration configuration;
  if (const char* caFile = std::getenv("TOLVANE_CA_FILE"); caFile != nullptr && *caFile != '\0') {
    configuration.additionalCAFile = std::filesystem::path(caFile);
  }
  return configuration;
}

// ---- tasks -------------------------------------------------------------------------------

struct URLSessionTask::Impl {
  std::shared_ptr<TransferTask> transfer;
};

URLSessionTask::URLSessionTask(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
URLSessionTask::~URLSessionTask() = default;

std::uint64_t URLSessionTask::taskIdentifier() const { return impl_->transfer->identifier(); }
URLSessionTask::Kind URLSessionTask::kind() const { return impl_->transfer->kind(); }
URLSessionTask::State URLSessionTask::state() const { return impl_->transfer->state(); }
std::optional<URLRequest> URLSessionTask::originalRequest() const {
  return impl_->transfer->originalRequest();
}
std::optional<URLRequest> URLSessionTask::currentRequest() const {
  return impl_->transfer->currentRequest();
}
std::shared_ptr<const HTTPURLResponse> URLSessionTask::response() const {
  return impl_->transfer->response();
}
std::int64_t URLSessionTask::countOfBytesReceived() const {
  return impl_->transfer->countOfBytesReceived();
}
std::int64_t URLSessionTask::countOfBytesExpectedToReceive() const {
  return impl_->transfer->countOfBytesExpectedToReceive();
}
void URLSessionTask::resume() { impl_->transfer->resume(); }
void URLSessionTask::suspend() { impl_->transfer->suspend(); }
void URLSessionTask::cancel() { impl_->transfer->cancel(); }
void URLSessionTask::cancelByProducingResumeData(std::function<void(std::optional<Data>)> handler) {
  impl_->transfer->cancelByProducingResumeData(std::move(handler));
}

// ---- session -----------------------------------------------------------------------------

// Task bookkeeping is guarded by `mutex`; the delegate slot belongs to the delegate queue.
struct URLSession::Impl {
  URLSessionConfiguration configuration;
  std::shared_ptr<DispatchQueue> delegateQueue;
  std::shared_ptr<const TransferContext> context;
  std::shared_ptr<CurlMulti> engine;
  std::atomic<std::uint64_t> nextIdentifier{1};

  std::mutex mutex;
  // Tasks whose completion has not been delivered yet; the session keeps them alive.
  std::map<std::uint64_t, TaskPtr> outstanding;
  bool invalidated = false;
  bool invalidationSent = false;
  // An invalidated session lives until it has sent its final callback.
  std::shared_ptr<URLSession> keepAlive;
};

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::shared_ptr<URLSessionDelegate> delegate,
                                             std::shared_ptr<DispatchQueue> delegateQueue) {
  auto impl = std::make_unique<Impl>();
  impl->configuration = configuration;
  impl->delegateQueue = delegateQueue;
  impl->engine = CurlMulti::start("net-" + delegateQueue->label());

  auto context = std::make_shared<TransferContext>();
  context->engine = impl->engine;
  context->queue = delegateQueue;
  context->responsesGated = delegate && delegate->decidesResponses();
  context->delegate = std::make_shared<DelegateSlot>(DelegateSlot{std::move(delegate)});
  context->configuration = configuration;
  context->caTrust = CATrust::make(configuration.additionalCAFile);

  Impl* raw = impl.get();
  // The constructor is private to keep sessions shared objects; make_shared cannot reach it.
  std::shared_ptr<URLSession> session(new URLSession(std::move(impl)));
  context->session = session;
  std::weak_ptr<URLSession> weak = session;
  context->completionDelivered = [weak](std::uint64_t identifier) {
    if (auto self = weak.lock()) self->taskCompleted(identifier);
  };
  raw->context = std::move(context);
  return session;
}

URLSession::URLSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

URLSession::~URLSession() {
  // Transfers still running end silently: nobody is left to hear of them.
  impl_->engine->shutdown();
}

const URLSessionConfiguration& URLSession::configuration() const { return impl_->configuration; }

const std::shared_ptr<DispatchQueue>& URLSession::delegateQueue() const {
  return impl_->delegateQueue;
}

TaskPtr URLSession::makeTask(URLSessionTask::Kind kind, URLRequest request,
                             std::optional<ResumeData> resumeData,
                             std::optional<URLError::Code> startError) {
  std::lock_guard guard(impl_->mutex);
  // A task made after invalidateAndCancel never runs: until the final callback it reports a
  // cancellation when started; after it, the delegate is gone and nothing is reported.
  if (impl_->invalidated) startError = URLError::cancelled;
  auto transfer =
      std::make_shared<TransferTask>(impl_->context, impl_->nextIdentifier++, kind,
                                     std::move(request), std::move(resumeData), startError);
  TaskPtr task = std::make_shared<ConstructibleTask>(
      std::make_unique<URLSessionTask::Impl>(URLSessionTask::Impl{transfer}));
  transfer->attach(task);
  impl_->outstanding.emplace(transfer->identifier(), task);
  return task;
}

TaskPtr URLSession::dataTask(const URLRequest& request) {
  return makeTask(URLSessionTask::Kind::data, request, std::nullopt, std::nullopt);
}

TaskPtr URLSession::downloadTask(const URLRequest& request) {
  return makeTask(URLSessionTask::Kind::download, request, std::nullopt, std::nullopt);
}

void URLSession::discardResumeData(const Data& resumeData) {
  const auto decoded = ResumeData::decode(resumeData);
  if (!decoded || !isTransportTemporaryFile(decoded->temporaryFile)) return;
  std::error_code ignored;
  std::filesystem::remove(decoded->temporaryFile, ignored);
}

TaskPtr URLSession::downloadTask(const Data& resumeData) {
  auto decoded = ResumeData::decode(resumeData);
  if (!decoded)
    return makeTask(URLSessionTask::Kind::download, URLRequest(), std::nullopt,
                    URLError::cannotDecodeRawData);
  URLRequest request = decoded->request;
  return makeTask(URLSessionTask::Kind::download, std::move(request), std::move(decoded),
                  std::nullopt);
}

void URLSession::taskCompleted(std::uint64_t identifier) {
  TaskPtr finished;
  bool sendInvalidation = false;
  {
    std::lock_guard guard(impl_->mutex);
    auto it = impl_->outstanding.find(identifier);
    if (it != impl_->outstanding.end()) {
      finished = std::move(it->second);
      impl_->outstanding.erase(it);
    }
    if (impl_->invalidated && !impl_->invalidationSent && impl_->outstanding.empty()) {
      sendInvalidation = impl_->invalidationSent = true;
    }
  }
  if (sendInvalidation) sendInvalidationCallback();
}

void URLSession::sendInvalidationCallback() {
  impl_->delegateQueue->async([self = shared_from_this()] {
    // Nothing can run on an invalidated session any more: close its connections first.
    self->impl_->engine->shutdown();
    auto& slot = *self->impl_->context->delegate;
    if (slot.delegate) slot.delegate->didBecomeInvalidWithError(*self, nullptr);
    slot.delegate.reset();
    std::shared_ptr<URLSession> keepAlive;
    {
      std::lock_guard guard(self->impl_->mutex);
      keepAlive.swap(self->impl_->keepAlive);
    }
  });
}

void URLSession::invalidate(bool cancelTasks) {
  std::vector<TaskPtr> tasks;
  bool sendNow = false;
  {
    std::lock_guard guard(impl_->mutex);
    if (impl_->invalidated) return;
    impl_->invalidated = true;
    impl_->keepAlive = shared_from_this();
    for (const auto& [identifier, task] : impl_->outstanding) tasks.push_back(task);
    if (tasks.empty()) sendNow = impl_->invalidationSent = true;
  }
  if (sendNow) sendInvalidationCallback();
  if (cancelTasks) {
    for (const auto& task : tasks) task->cancel();
  }
}

void URLSession::invalidateAndCancel() { invalidate(true); }

void URLSession::finishTasksAndInvalidate() { invalidate(false); }

}  // namespace tolvane::platform
