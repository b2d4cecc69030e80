#include "Platform/TransferTask.h"

#include <mutex>
#include <system_error>
#include <utility>
#include <variant>

#include "Platform/CurlErrorCode.h"
#include "Platform/CurlRequest.h"
#include "Platform/RedirectPolicy.h"

namespace tolvane::platform {
namespace {

constexpr long kReceiveBufferBytes = 128 * 1024;

}  // namespace

TransferTask::TransferTask(std::shared_ptr<const TransferContext> context, std::uint64_t identifier,
                           Kind kind, URLRequest request, std::optional<ResumeData> resumeData,
                           std::optional<URLError::Code> startError)
    : context_(std::move(context)),
      identifier_(identifier),
      kind_(kind),
      events_(context_, identifier),
      originalRequest_(request),
      currentRequest_(std::move(request)),
      startError_(startError),
      resumeData_(std::move(resumeData)) {}

TransferTask::~TransferTask() = default;

// ---- public side ----------------------------------------------------------------------

TransferTask::State TransferTask::state() const {
  UnfairLock::Locker locker(lock_);
  return state_;
}

std::optional<URLRequest> TransferTask::originalRequest() const {
  UnfairLock::Locker locker(lock_);
  return originalRequest_;
}

std::optional<URLRequest> TransferTask::currentRequest() const {
  UnfairLock::Locker locker(lock_);
  return currentRequest_;
}

std::shared_ptr<const HTTPURLResponse> TransferTask::response() const {
  UnfairLock::Locker locker(lock_);
  return response_;
}

std::int64_t TransferTask::countOfBytesReceived() const {
  UnfairLock::Locker locker(lock_);
  return bytesReceived_;
}

std::int64_t TransferTask::countOfBytesExpectedToReceive() const {
  UnfairLock::Locker locker(lock_);
  return bytesExpected_;
}

void TransferTask::resume() {
  {
    UnfairLock::Locker locker(lock_);
    if (state_ != State::suspended) return;
    state_ = State::running;
  }
  command([self = shared_from_this()] { self->doResume(); });
}

void TransferTask::suspend() {
  {
    UnfairLock::Locker locker(lock_);
    if (state_ != State::running) return;
    state_ = State::suspended;
  }
  // After the transport has shut down there is nothing left to pause.
  (void)context_->engine->post([self = shared_from_this()] { self->doSuspend(); });
}

void TransferTask::cancel() {
  {
    UnfairLock::Locker locker(lock_);
    if (state_ != State::running && state_ != State::suspended) return;
    state_ = State::canceling;
  }
  command([self = shared_from_this()] { self->doCancel(false, nullptr); });
}

void TransferTask::cancelByProducingResumeData(std::function<void(std::optional<Data>)> handler) {
  bool active = false;
  {
    UnfairLock::Locker locker(lock_);
    active = state_ == State::running || state_ == State::suspended;
    if (active) state_ = State::canceling;
  }
  if (!active) {
    // Already over: nothing to resume from, but the caller still hears back.
    events_.postResumeData(std::move(handler), std::nullopt);
    return;
  }
  // The handler is shared so that it is still at hand when the command cannot run.
  auto shared = std::make_shared<std::function<void(std::optional<Data>)>>(std::move(handler));
  command([self = shared_from_this(), shared] { self->doCancel(true, std::move(*shared)); },
          [shared](std::optional<Data> data) { (*shared)(std::move(data)); });
}

void TransferTask::command(std::function<void()> work,
                           std::function<void(std::optional<Data>)> resumeHandler) {
  if (context_->engine->post(std::move(work))) return;
  // The transport has shut down and nothing will run this task any more: it ends here, as
  // cancelled, and reports that once (unless the network thread managed to report first).
  bool report = false;
  std::optional<URL> url;
  {
    UnfairLock::Locker locker(lock_);
    report = !completionReported_;
    completionReported_ = true;
    state_ = State::completed;
    url = currentRequest_.url;
  }
  if (resumeHandler) events_.postResumeData(std::move(resumeHandler), std::nullopt);
  if (!report) return;
  URLSessionTaskMetrics metrics;
  metrics.taskIntervalStart = Clock::now();
  events_.postEnd(metrics, makeError(URLError(URLError::cancelled, url, std::nullopt,
                                              "the transport has shut down")));
}

void TransferTask::postCoalescedProgress() {
  // Called with lock_ held. One event at a time is queued; it takes whatever has piled up
  // when it runs, so a slow delegate queue does not collect one closure per chunk.
  if (progressEventPending_) return;
  progressEventPending_ = true;
  events_.post([self = shared_from_this()](URLSession& session, URLSessionDelegate& delegate,
                                           const TaskPtr& task) {
    Data data;
    std::int64_t written = 0;
    std::int64_t total = 0;
    std::int64_t expected = 0;
    {
      UnfairLock::Locker locker(self->lock_);
      data.swap(self->pendingData_);
      written = std::exchange(self->pendingWritten_, 0);
      total = self->fileBytes_;
      expected = self->bytesExpected_;
      self->progressEventPending_ = false;
    }
    if (self->kind_ == Kind::data) {
      if (!data.empty()) delegate.didReceiveData(session, task, data);
    } else if (written > 0) {
      delegate.didWriteData(session, task, written, total, expected);
    }
  });
}

// ---- network thread --------------------------------------------------------------------

void TransferTask::checkOnNetworkThread(const char* operation) const {
  context_->engine->checkOnNetworkThread(operation);
}

void TransferTask::doResume() {
  checkOnNetworkThread("TransferTask::doResume");
  if (finished_) return;
  if (!started_) {
    start();
    return;
  }
  if (!userPaused_) return;
  userPaused_ = false;
  deadlines_.resumed(Clock::now());
  // Unpausing may run the body callback right here; it pauses again if the gate is shut.
  if (inMulti_) curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
}

void TransferTask::doSuspend() {
  checkOnNetworkThread("TransferTask::doSuspend");
  if (finished_ || !started_) return;
  userPaused_ = true;
  if (inMulti_) curl_easy_pause(easy_.get(), CURLPAUSE_ALL);
}

void TransferTask::doCancel(bool produceResumeData,
                            std::function<void(std::optional<Data>)> handler) {
  checkOnNetworkThread("TransferTask::doCancel");
  if (finished_) {
    if (handler) events_.postResumeData(std::move(handler), std::nullopt);
    return;
  }
  if (!started_) taskStart_ = Clock::now();
  stopTransfer();
  finish(URLError::cancelled, {}, produceResumeData, std::move(handler));
}

void TransferTask::start() {
  checkOnNetworkThread("TransferTask::start");
  started_ = true;
  taskStart_ = Clock::now();
  metrics_.taskIntervalStart = taskStart_;
  if (startError_) {
    finish(startError_);
    return;
  }
  // Continue the partial file when it is still there and intact; otherwise start over.
  if (resumeData_) (void)file_.continuePartial(*resumeData_);
  URLRequest request;
  {
    UnfairLock::Locker locker(lock_);
    request = currentRequest_;
  }
  startAttempt(request);
}

void TransferTask::startAttempt(const URLRequest& request) {
  checkOnNetworkThread("TransferTask::startAttempt");
  ++generation_;
  head_ = ResponseHeadReader();
  gateOpen_ = false;
  doneParked_ = false;
  pendingRedirectHead_.reset();
  const auto& configuration = context_->configuration;
  deadlines_.start(
      TransferDeadlines::inactivityInterval(request, configuration.timeoutIntervalForRequest),
      {configuration.lowSpeedLimitBytesPerSecond, configuration.lowSpeedTimeSeconds}, Clock::now());
  bodyLimit_ = request.maximumBodyLength;

  if (!request.url) {
    finish(URLError::badURL);
    return;
  }
  const std::string scheme = request.url->scheme();
  if (scheme != "http" && scheme != "https") {
    finish(URLError::unsupportedURL);
    return;
  }
  if (easy_) context_->engine->recycle(std::move(easy_));
  easy_ = context_->engine->takeEasy();
  if (!easy_ || !configure(easy_.get(), request)) {
    finish(URLError::cannotLoadFromNetwork, "could not set up the transfer");
    return;
  }
  errorText_[0] = '\0';
  inMulti_ = true;
  context_->engine->add(easy_.get(), [self = shared_from_this()](CURLcode result) {
    self->inMulti_ = false;
    self->transferDone(result);
  });
}

bool TransferTask::configure(CURL* easy, const URLRequest& request) {
  CurlRequestOptions options;
  options.sessionHeaders = context_->configuration.httpAdditionalHeaders;
  // As the request's own credentials were dropped at the hop, so are the session's.
  if (crossedOrigin_) dropCredentials(options.sessionHeaders);
  options.connectSeconds = deadlines_.inactivitySeconds();
  options.caTrust = context_->caTrust.get();
  options.share = context_->engine->share();
  if (file_.continuing()) {
    options.rangeStart = file_.offset();
    options.validator = file_.validator();
  }
  bool ok = setUpRequest(easy, request, options, headerList_);
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };
  set(CURLOPT_ERRORBUFFER, errorText_);
  set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  set(CURLOPT_HEADERFUNCTION, &TransferTask::onHeader);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &TransferTask::onBody);
  set(CURLOPT_WRITEDATA, this);
  set(CURLOPT_XFERINFOFUNCTION, &TransferTask::onProgress);
  set(CURLOPT_XFERINFODATA, this);
  set(CURLOPT_NOPROGRESS, 0L);
  return ok;
}

void TransferTask::transferDone(CURLcode result) {
  checkOnNetworkThread("TransferTask::transferDone");
  if (finished_) return;
  if (abort_) {
    collectMetrics();
    finish(*abort_);
  } else if (result != CURLE_OK) {
    collectMetrics();
    finish(urlErrorCodeFromCurl(result),
           errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(result));
  } else if (!head_.complete()) {
    collectMetrics();
    finish(URLError::badServerResponse, "no response head");
  } else if (!gateOpen_) {
    doneParked_ = true;  // the delegate has not decided yet; finish when it has
  } else {
    collectMetrics();
    finish(std::nullopt);
  }
}

void TransferTask::stopTransfer() {
  if (inMulti_) {
    context_->engine->remove(easy_.get());
    inMulti_ = false;
  }
}

void TransferTask::collectMetrics() {
  if (easy_) addTransferMetrics(easy_.get(), metrics_);
}

std::optional<Data> TransferTask::makeResumeData() const {
  if (kind_ != Kind::download) return std::nullopt;
  URLRequest request;
  {
    UnfairLock::Locker locker(lock_);
    request = currentRequest_;
  }
  const auto resume = file_.resumeData(request, lastStatus_);
  return resume ? std::optional(resume->encoded()) : std::nullopt;
}

void TransferTask::finish(const TransferFailure& failure) {
  finish(failure.code, failure.detail, false, nullptr, failure.cause);
}

void TransferTask::finish(std::optional<URLError::Code> code, std::string detail,
                          bool produceResumeData,
                          std::function<void(std::optional<Data>)> resumeHandler, ErrorPtr cause) {
  checkOnNetworkThread("TransferTask::finish");
  finished_ = true;
  stopTransfer();
  // The last bytes are announced before the task's end.
  flushHeldProgress(Clock::now(), true);
  metrics_.taskIntervalStart = taskStart_;
  metrics_.taskIntervalDuration = Clock::now() - taskStart_;
  context_->engine->recycle(std::move(easy_));
  headerList_.reset();
  // The finished file is handed over by name, and so is the partial file of resume data.
  if (file_.isOpen()) {
    file_.name(identifier_);
    if (file_.path().empty() && !code) {
      auto failure = file_.failure(URLError::cannotCreateFile, errno);
      code = failure.code;
      detail = std::move(failure.detail);
      cause = std::move(failure.cause);
    }
  }
  file_.close();

  ErrorPtr error;
  std::optional<Data> resume;
  std::filesystem::path finishedFile;
  std::optional<URL> url;
  bool report = false;
  {
    UnfairLock::Locker locker(lock_);
    report = !completionReported_;
    completionReported_ = true;
    state_ = State::completed;
    metrics_.countOfBytesReceived = bytesReceived_;
    url = currentRequest_.url;
  }
  if (code) {
    // A plain cancel gives the partial file up; other interruptions keep it when it can
    // be continued, and only inside the resume data.
    if (*code != URLError::cancelled || produceResumeData) resume = makeResumeData();
    if (!resume) file_.remove();
    error = makeError(URLError(*code, url, resume, std::move(detail), std::move(cause)));
  } else if (kind_ == Kind::download && report) {
    finishedFile = file_.path();
  } else if (kind_ == Kind::download) {
    // The task was already reported as ended; nobody will take the file.
    file_.remove();
  }

  if (resumeHandler) events_.postResumeData(std::move(resumeHandler), resume);
  if (!finishedFile.empty()) events_.postDownloaded(finishedFile);
  if (report) events_.postEnd(metrics_, error);
}

}  // namespace tolvane::platform
