#include "Platform/TransferTask.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>
#include <vector>

#include "Platform/CurlErrorCode.h"

namespace tolvane::platform {
namespace {

constexpr int kMaximumRedirects = 16;
constexpr long kReceiveBufferBytes = 128 * 1024;
constexpr std::string_view kTemporaryPrefix = "tolvane-download-";

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool isRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const URL& a, const URL& b) {
  return a.scheme() == b.scheme() && lowercase(a.host()) == lowercase(b.host()) &&
         a.port() == b.port();
}

// The file name a server proposes, reduced to one safe path component: a name such as
// "../../.profile" must not steer where a caller saves the file.
std::string safeFileName(std::string name) {
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name == "." || name == "..") return {};
  name.erase(std::remove_if(name.begin(), name.end(), [](unsigned char c) { return c < 0x20; }),
             name.end());
  return name;
}

std::string fileNameFromDisposition(const std::string& disposition) {
  const std::string lower = lowercase(disposition);
  if (auto star = lower.find("filename*="); star != std::string::npos) {
    std::string value = trim(disposition.substr(star + 10));
    value = value.substr(0, value.find(';'));
    if (auto quote = value.find("''"); quote != std::string::npos) value = value.substr(quote + 2);
    return safeFileName(percentDecode(trim(value)));
  }
  if (auto plain = lower.find("filename="); plain != std::string::npos) {
    std::string value = trim(disposition.substr(plain + 9));
    if (!value.empty() && value.front() == '"') {
      const auto end = value.find('"', 1);
      value = value.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    } else {
      value = trim(value.substr(0, value.find(';')));
    }
    return safeFileName(value);
  }
  return {};
}

// Start offset of "Content-Range: bytes START-END/TOTAL", and TOTAL when known.
std::optional<std::pair<std::int64_t, std::int64_t>> parseContentRange(
    const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  const std::string text = lowercase(trim(*value));
  if (text.rfind("bytes ", 0) != 0) return std::nullopt;
  char* end = nullptr;
  const long long start = std::strtoll(text.c_str() + 6, &end, 10);
  if (end == text.c_str() + 6 || *end != '-') return std::nullopt;
  std::int64_t total = kTransferSizeUnknown;
  if (auto slash = text.find('/'); slash != std::string::npos && text[slash + 1] != '*') {
    total = std::strtoll(text.c_str() + slash + 1, nullptr, 10);
  }
  return std::make_pair(static_cast<std::int64_t>(start), total);
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The folder a download task writes its file into.
std::filesystem::path downloadFolder(const URLRequest& request) {
  if (request.downloadDirectory && !request.downloadDirectory->empty())
    return *request.downloadDirectory;
  std::error_code error;
  return std::filesystem::temp_directory_path(error);
}

// A partial file named in resume data is only reused when it is one of ours in the
// request's download folder: resume data is input, and must not make the transport
// truncate another file.
bool isOurTemporaryFile(const std::filesystem::path& path, const URLRequest& request) {
  std::error_code error;
  return path.parent_path() == downloadFolder(request) &&
         path.filename().string().rfind(kTemporaryPrefix, 0) == 0 &&
         std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
}

}  // namespace

bool isTransportTemporaryFile(const std::filesystem::path& path) {
  std::error_code error;
  return path.parent_path() == std::filesystem::temp_directory_path(error) &&
         path.filename().string().rfind(kTemporaryPrefix, 0) == 0 &&
         std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
}

TransferTask::TransferTask(std::shared_ptr<const TransferContext> context, std::uint64_t identifier,
                           Kind kind, URLRequest request, std::optional<ResumeData> resumeData,
                           std::optional<URLError::Code> startError)
    : context_(std::move(context)),
      identifier_(identifier),
      kind_(kind),
      originalRequest_(request),
      currentRequest_(std::move(request)),
      startError_(startError),
      resumeData_(std::move(resumeData)) {}

TransferTask::~TransferTask() = default;

// ---- public side ----------------------------------------------------------------------

TransferTask::State TransferTask::state() const {
  std::lock_guard guard(mutex_);
  return state_;
}

std::optional<URLRequest> TransferTask::originalRequest() const {
  std::lock_guard guard(mutex_);
  return originalRequest_;
}

std::optional<URLRequest> TransferTask::currentRequest() const {
  std::lock_guard guard(mutex_);
  return currentRequest_;
}

std::shared_ptr<const HTTPURLResponse> TransferTask::response() const {
  std::lock_guard guard(mutex_);
  return response_;
}

std::int64_t TransferTask::countOfBytesReceived() const {
  std::lock_guard guard(mutex_);
  return bytesReceived_;
}

std::int64_t TransferTask::countOfBytesExpectedToReceive() const {
  std::lock_guard guard(mutex_);
  return bytesExpected_;
}

void TransferTask::resume() {
  {
    std::lock_guard guard(mutex_);
    if (state_ != State::suspended) return;
    state_ = State::running;
  }
  command([self = shared_from_this()] { self->doResume(); });
}

void TransferTask::suspend() {
  {
    std::lock_guard guard(mutex_);
    if (state_ != State::running) return;
    state_ = State::suspended;
  }
  // After the transport has shut down there is nothing left to pause.
  (void)context_->engine->post([self = shared_from_this()] { self->doSuspend(); });
}

void TransferTask::cancel() {
  {
    std::lock_guard guard(mutex_);
    if (state_ != State::running && state_ != State::suspended) return;
    state_ = State::canceling;
  }
  command([self = shared_from_this()] { self->doCancel(false, nullptr); });
}

void TransferTask::cancelByProducingResumeData(std::function<void(std::optional<Data>)> handler) {
  bool active = false;
  {
    std::lock_guard guard(mutex_);
    active = state_ == State::running || state_ == State::suspended;
    if (active) state_ = State::canceling;
  }
  if (!active) {
    // Already over: nothing to resume from, but the caller still hears back.
    context_->queue->async([handler = std::move(handler)] { handler(std::nullopt); });
    return;
  }
  // The handler is shared so that it is still at hand when the command cannot run.
  auto shared = std::make_shared<std::function<void(std::optional<Data>)>>(std::move(handler));
  command([self = shared_from_this(), shared] { self->doCancel(true, std::move(*shared)); },
          [shared](std::optional<Data> data) { (*shared)(std::move(data)); });
}

void TransferTask::post(Event event) {
  context_->queue->async([context = context_, task = publicTask_, event = std::move(event)] {
    auto session = context->session.lock();
    auto publicTask = task.lock();
    if (!session || !publicTask || !context->delegate->delegate) return;
    event(*session, *context->delegate->delegate, publicTask);
  });
}

void TransferTask::postDecision(Event ask, std::function<void()> fallback) {
  context_->queue->async([context = context_, task = publicTask_, ask = std::move(ask),
                          fallback = std::move(fallback)] {
    auto session = context->session.lock();
    auto publicTask = task.lock();
    if (session && publicTask && context->delegate->delegate) {
      ask(*session, *context->delegate->delegate, publicTask);
    } else {
      fallback();
    }
  });
}

void TransferTask::postCompletion(const ErrorPtr& error) {
  context_->queue->async([context = context_, task = publicTask_, error, identifier = identifier_] {
    auto session = context->session.lock();
    if (!session) return;
    if (auto publicTask = task.lock(); publicTask && context->delegate->delegate) {
      context->delegate->delegate->didCompleteWithError(*session, publicTask, error);
    }
    if (context->completionDelivered) context->completionDelivered(identifier);
  });
}

void TransferTask::command(std::function<void()> work,
                           std::function<void(std::optional<Data>)> resumeHandler) {
  if (context_->engine->post(std::move(work))) return;
  // The transport has shut down and nothing will run this task any more: it ends here, as
  // cancelled, and reports that once (unless the network thread managed to report first).
  bool report = false;
  std::optional<URL> url;
  {
    std::lock_guard guard(mutex_);
    report = !completionReported_;
    completionReported_ = true;
    state_ = State::completed;
    url = currentRequest_.url;
  }
  if (resumeHandler)
    context_->queue->async(
        [resumeHandler = std::move(resumeHandler)] { resumeHandler(std::nullopt); });
  if (!report) return;
  URLSessionTaskMetrics metrics;
  metrics.taskIntervalStart = Clock::now();
  post([metrics](URLSession& session, URLSessionDelegate& delegate, const TaskPtr& task) {
    delegate.didFinishCollectingMetrics(session, task, metrics);
  });
  postCompletion(
      makeError(URLError(URLError::cancelled, url, std::nullopt, "the transport has shut down")));
}

void TransferTask::postCoalescedProgress() {
  // Called with mutex_ held. One event at a time is queued; it takes whatever has piled up
  // when it runs, so a slow delegate queue does not collect one closure per chunk.
  if (progressEventPending_) return;
  progressEventPending_ = true;
  post([self = shared_from_this()](URLSession& session, URLSessionDelegate& delegate,
                                   const TaskPtr& task) {
    Data data;
    std::int64_t written = 0;
    std::int64_t total = 0;
    std::int64_t expected = 0;
    {
      std::lock_guard guard(self->mutex_);
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

void TransferTask::doResume() {
  if (finished_) return;
  if (!started_) {
    start();
    return;
  }
  if (!userPaused_) return;
  userPaused_ = false;
  lastActivity_ = windowStart_ = Clock::now();
  windowMoved_ = lastMoved_;
  // Unpausing may run the body callback right here; it pauses again if the gate is shut.
  if (inMulti_) curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
}

void TransferTask::doSuspend() {
  if (finished_ || !started_) return;
  userPaused_ = true;
  if (inMulti_) curl_easy_pause(easy_.get(), CURLPAUSE_ALL);
}

void TransferTask::doCancel(bool produceResumeData,
                            std::function<void(std::optional<Data>)> handler) {
  if (finished_) {
    if (handler) context_->queue->async([handler = std::move(handler)] { handler(std::nullopt); });
    return;
  }
  if (!started_) taskStart_ = Clock::now();
  stopTransfer();
  finish(URLError::cancelled, {}, produceResumeData, std::move(handler));
}

void TransferTask::start() {
  started_ = true;
  taskStart_ = Clock::now();
  metrics_.taskIntervalStart = taskStart_;
  if (startError_) {
    finish(startError_);
    return;
  }
  if (resumeData_) {
    // Continue the partial file when it is still there and intact; otherwise start over.
    const auto& partial = resumeData_->temporaryFile;
    if (isOurTemporaryFile(partial, resumeData_->request)) {
      // Checked on the opened file itself, so a name swapped for a link after the look at
      // the path still cannot make us truncate someone else's file.
      file_.reset(::open(partial.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
      struct stat info {};
      if (file_ && ::fstat(file_.get(), &info) == 0 && S_ISREG(info.st_mode) &&
          info.st_uid == ::geteuid() && info.st_nlink == 1 &&
          info.st_size >= resumeData_->bytesReceived &&
          ::ftruncate(file_.get(), resumeData_->bytesReceived) == 0 &&
          ::lseek(file_.get(), 0, SEEK_END) == resumeData_->bytesReceived) {
        filePath_ = partial;
        fileOffset_ = resumeData_->bytesReceived;
        validator_ = resumeData_->validator;
        sendRange_ = true;
      } else {
        file_.reset();
      }
    }
  }
  URLRequest request;
  {
    std::lock_guard guard(mutex_);
    request = currentRequest_;
  }
  startAttempt(request);
}

void TransferTask::startAttempt(const URLRequest& request) {
  ++generation_;
  statusCode_ = 0;
  headers_ = HeaderFields();
  headersDone_ = false;
  gateOpen_ = false;
  doneParked_ = false;
  pendingRedirectHead_.reset();
  lastMoved_ = windowMoved_ = 0;
  lastActivity_ = windowStart_ = Clock::now();
  timeoutSeconds_ = request.timeoutInterval > 0 ? request.timeoutInterval
                                                : context_->configuration.timeoutIntervalForRequest;
  // Time-outs may come from resume data or a caller's arithmetic; converting a huge one to
  // libcurl's milliseconds must not overflow.
  if (!(timeoutSeconds_ > 0)) timeoutSeconds_ = URLRequest::kDefaultTimeoutInterval;
  timeoutSeconds_ = std::min(timeoutSeconds_, URLRequest::kMaximumTimeoutInterval);
  lowSpeedArmed_ = false;
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
  easy_.reset(curl_easy_init());
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
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };

  set(CURLOPT_URL, request.url->absoluteString().c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  // Redirects are followed here, one hop at a time, so the delegate sees each of them.
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_ERRORBUFFER, errorText_);
  set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  set(CURLOPT_HEADERFUNCTION, &TransferTask::onHeader);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &TransferTask::onBody);
  set(CURLOPT_WRITEDATA, this);
  set(CURLOPT_XFERINFOFUNCTION, &TransferTask::onProgress);
  set(CURLOPT_XFERINFODATA, this);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutSeconds_ * 1000));
  if (CURLSH* share = context_->engine->share()) set(CURLOPT_SHARE, share);
  if (!context_->caBundle.empty()) {
    set(CURLOPT_CAINFO, context_->caBundle.c_str());
    // The bundle already holds the system CAs. Without a CA folder libcurl keeps the parsed
    // bundle between connections instead of reading its hundred-odd certificates each time.
    set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  }

  const std::string& method = request.httpMethod;
  // A method that carries content goes out with an empty body rather than none: without
  // post fields libcurl would send a POST as a GET.
  const bool emptyContent =
      !request.httpBody && (method == "POST" || method == "PUT" || method == "PATCH");
  if (method == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else if (method == "GET" && !request.httpBody) {
    set(CURLOPT_HTTPGET, 1L);
  } else {
    if (request.httpBody || emptyContent) {
      const Data none;
      const Data& body = request.httpBody ? *request.httpBody : none;
      set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      set(CURLOPT_COPYPOSTFIELDS, body.c_str());
    }
    if (method != "POST") set(CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  // The session's extra headers first, then the request's own, which win on equal names.
  HeaderFields headers = context_->configuration.httpAdditionalHeaders;
  if (crossedOrigin_) {
    // As the request's own credentials were dropped at the hop, so are the session's.
    headers.setValue(std::nullopt, "Authorization");
    headers.setValue(std::nullopt, "Cookie");
  }
  for (const auto& [name, value] : request.allHTTPHeaderFields) headers.setValue(value, name);
  // libcurl decodes only what it announced itself, so it announces the caller's list.
  const std::string acceptEncoding = headers.value("Accept-Encoding").value_or("");
  headers.setValue(std::nullopt, "Accept-Encoding");
  set(CURLOPT_ACCEPT_ENCODING, acceptEncoding.c_str());
  if (sendRange_) {
    headers.setValue("bytes=" + std::to_string(fileOffset_) + "-", "Range");
    headers.setValue(validator_, "If-Range");
  }
  // "Name:" makes libcurl leave out a header it would add by itself: no "100-continue"
  // round trip for bodies, and no "Accept: */*" the caller never asked for.
  std::vector<std::string> lines;
  lines.emplace_back("Expect:");
  // libcurl labels post fields as a form; an empty body is no form.
  if (emptyContent && !headers.value("Content-Type")) lines.emplace_back("Content-Type:");
  if (!headers.value("Accept")) lines.emplace_back("Accept:");
  for (const auto& [name, value] : headers) {
    // "Name;" is libcurl's way to send a header with an empty value.
    lines.push_back(value.empty() ? name + ";" : name + ": " + value);
  }

  CurlSlist list;
  for (const auto& line : lines) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    (void)list.release();
    list.reset(grown);
  }
  headerList_ = std::move(list);
  set(CURLOPT_HTTPHEADER, headerList_.get());
  return ok;
}

std::size_t TransferTask::onHeader(char* data, std::size_t size, std::size_t count, void* opaque) {
  auto* self = static_cast<TransferTask*>(opaque);
  const std::size_t length = size * count;
  const std::string_view line(data, length);
  self->lastActivity_ = Clock::now();
  if (self->headersDone_ || line.empty()) return length;  // trailers
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line: a new response (after an interim 1xx one).
    const auto space = line.find(' ');
    self->statusCode_ = space == std::string_view::npos
                            ? 0
                            : std::atoi(std::string(line.substr(space + 1, 3)).c_str());
    self->headers_ = HeaderFields();
    return length;
  }
  if (line == "\r\n" || line == "\n") {
    if (self->statusCode_ >= 100 && self->statusCode_ < 200) return length;
    return self->headersComplete() ? length : 0;
  }
  if (line.front() == ' ' || line.front() == '\t') return length;  // obsolete folding
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return length;
  self->headers_.addValue(trim(line.substr(colon + 1)), trim(line.substr(0, colon)));
  return length;
}

std::shared_ptr<HTTPURLResponse> TransferTask::makeResponse() const {
  std::shared_ptr<HTTPURLResponse> head;
  {
    std::lock_guard guard(mutex_);
    head = std::make_shared<HTTPURLResponse>(HTTPURLResponse{*currentRequest_.url,
                                                             statusCode_,
                                                             headers_,
                                                             kTransferSizeUnknown,
                                                             std::nullopt,
                                                             std::nullopt,
                                                             {}});
  }
  head->statusCode = statusCode_;
  head->allHeaderFields = headers_;
  curl_off_t length = -1;
  if (curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
      length >= 0) {
    head->expectedContentLength = length;
  }
  if (auto type = headers_.value("Content-Type")) {
    const auto semicolon = type->find(';');
    const std::string media = lowercase(trim(type->substr(0, semicolon)));
    if (!media.empty()) head->mimeType = media;
    if (semicolon != std::string::npos) {
      const std::string parameters = type->substr(semicolon + 1);
      const auto charset = lowercase(parameters).find("charset=");
      if (charset != std::string::npos) {
        std::string value = trim(parameters.substr(charset + 8));
        value = value.substr(0, value.find(';'));
        value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
        if (!value.empty()) head->textEncodingName = lowercase(trim(value));
      }
    }
  }
  std::string name;
  if (auto disposition = headers_.value("Content-Disposition"))
    name = fileNameFromDisposition(*disposition);
  if (name.empty()) name = safeFileName(head->url.lastPathComponent());
  head->suggestedFilename = name.empty() ? "Unknown" : name;
  return head;
}

bool TransferTask::headersComplete() {
  headersDone_ = true;
  lastStatus_ = statusCode_;
  std::shared_ptr<const HTTPURLResponse> head = makeResponse();
  const auto location = headers_.value("Location");
  if (!isRedirectStatus(statusCode_) || !location) return finalResponse(head);

  URLRequest current;
  {
    std::lock_guard guard(mutex_);
    current = currentRequest_;
  }
  // Resolve the Location against the current URL (it may be relative).
  std::optional<URL> target;
  if (CURLU* handle = curl_url()) {
    char* text = nullptr;
    if (curl_url_set(handle, CURLUPART_URL, current.url->absoluteString().c_str(), 0) ==
            CURLUE_OK &&
        curl_url_set(handle, CURLUPART_URL, location->c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_URL, &text, 0) == CURLUE_OK) {
      target = URL::parse(text);
    }
    curl_free(text);
    curl_url_cleanup(handle);
  }
  if (!target) {
    abortCode_ = URLError::redirectToNonExistentLocation;
    abortDetail_ = "unusable redirect location: " + *location;
    return false;
  }
  if (target->scheme() != "http" && target->scheme() != "https") {
    abortCode_ = URLError::unsupportedURL;
    abortDetail_ = "redirect to " + target->absoluteString();
    return false;
  }
  if (current.url->scheme() == "https" && target->scheme() == "http") {
    // Never give up transport security because a server said so.
    abortCode_ = URLError::appTransportSecurityRequiresSecureConnection;
    abortDetail_ = "redirect from https to " + target->absoluteString();
    return false;
  }
  if (metrics_.redirectCount >= kMaximumRedirects) {
    abortCode_ = URLError::httpTooManyRedirects;
    return false;
  }

  URLRequest next = current;
  next.url = target;
  const bool becomesGet = statusCode_ == 303 ? current.httpMethod != "HEAD"
                                             : (statusCode_ == 301 || statusCode_ == 302) &&
                                                   current.httpMethod == "POST";
  if (becomesGet) {
    next.httpMethod = "GET";
    next.httpBody.reset();
    next.setValue(std::nullopt, "Content-Type");
    next.setValue(std::nullopt, "Content-Length");
  }
  if (!sameOrigin(*current.url, *target)) {
    // Credentials meant for one server are not handed to the next one.
    next.setValue(std::nullopt, "Authorization");
    next.setValue(std::nullopt, "Cookie");
  }

  pendingRedirectHead_ = head;
  const std::uint64_t generation = generation_;
  std::weak_ptr<TransferTask> weak = weak_from_this();
  auto engine = context_->engine;
  auto once = std::make_shared<std::once_flag>();
  auto decide = [once, generation, weak, engine](std::optional<URLRequest> decision) {
    std::call_once(*once, [&] {
      (void)engine->post([weak, generation, decision = std::move(decision)] {
        if (auto self = weak.lock()) self->redirectDecided(generation, decision);
      });
    });
  };
  // Without a delegate to ask, redirects are followed.
  postDecision(
      [head, next, decide](URLSession& session, URLSessionDelegate& delegate, const TaskPtr& task) {
        delegate.willPerformHTTPRedirection(session, task, *head, next, decide);
      },
      [next, decide] { decide(next); });
  return true;
}

bool TransferTask::finalResponse(const std::shared_ptr<const HTTPURLResponse>& head) {
  if (kind_ == Kind::download && !prepareFile(*head)) return false;
  {
    std::lock_guard guard(mutex_);
    response_ = head;
    if (kind_ == Kind::download) {
      const auto range = parseContentRange(head->allHeaderFields.value("Content-Range"));
      if (statusCode_ == 206 && range && range->second >= 0) {
        bytesExpected_ = range->second;
      } else {
        bytesExpected_ = head->expectedContentLength >= 0
                             ? fileOffset_ + head->expectedContentLength
                             : kTransferSizeUnknown;
      }
    } else {
      bytesExpected_ = head->expectedContentLength;
    }
  }
  // Refused once the response is recorded, so its status still counts.
  if (bodyLimit_ && head->expectedContentLength > *bodyLimit_) {
    abortCode_ = URLError::dataLengthExceedsMaximum;
    abortDetail_ = "announced " + std::to_string(head->expectedContentLength) + " bytes";
    return false;
  }
  if (kind_ == Kind::download) {
    if (resumeData_ && !resumeReported_) {
      resumeReported_ = true;
      const std::int64_t offset = fileOffset_;
      const std::int64_t expected = countOfBytesExpectedToReceive();
      post([offset, expected](URLSession& session, URLSessionDelegate& delegate,
                              const TaskPtr& task) {
        delegate.didResumeAtOffset(session, task, offset, expected);
      });
    }
    gateOpen_ = true;
    return true;
  }
  if (!context_->responsesGated) {
    gateOpen_ = true;
    post([head](URLSession& session, URLSessionDelegate& delegate, const TaskPtr& task) {
      delegate.didReceiveResponse(session, task, *head, [](ResponseDisposition) {});
    });
    return true;
  }
  // Data tasks wait for the delegate's verdict; the body callback pauses meanwhile.
  const std::uint64_t generation = generation_;
  std::weak_ptr<TransferTask> weak = weak_from_this();
  auto engine = context_->engine;
  auto once = std::make_shared<std::once_flag>();
  auto decide = [once, generation, weak, engine](ResponseDisposition disposition) {
    std::call_once(*once, [&] {
      (void)engine->post([weak, generation, disposition] {
        if (auto self = weak.lock()) self->responseDecided(generation, disposition);
      });
    });
  };
  // Without a delegate to ask, responses are allowed.
  postDecision(
      [head, decide](URLSession& session, URLSessionDelegate& delegate, const TaskPtr& task) {
        delegate.didReceiveResponse(session, task, *head, decide);
      },
      [decide] { decide(ResponseDisposition::allow); });
  return true;
}

bool TransferTask::prepareFile(const HTTPURLResponse& head) {
  const std::string sent = std::exchange(validator_, {});
  if (auto tag = head.allHeaderFields.value("ETag"); tag && tag->rfind("W/", 0) != 0) {
    validator_ = *tag;  // If-Range accepts strong entity tags only
  } else if (auto modified = head.allHeaderFields.value("Last-Modified")) {
    validator_ = *modified;
  }
  if (file_) {
    const auto range = parseContentRange(head.allHeaderFields.value("Content-Range"));
    if (sendRange_ && head.statusCode == 206) {
      // A piece from somewhere else, or of another version (a server that ignored
      // If-Range), would be spliced in; the partial file is no longer trustworthy.
      if (range && range->first == fileOffset_ && (validator_.empty() || validator_ == sent))
        return true;
      discardPartial_ = true;
      abortCode_ = URLError::badServerResponse;
      abortDetail_ = "partial content does not continue the file";
      return false;
    }
    // The server sent the whole entity (changed file, or no range support): start over in
    // a new file. The partial one is left as it was until it is removed, so resume data
    // that still names it can never continue it with bytes of another version.
    file_.reset();
    std::error_code ignored;
    std::filesystem::remove(filePath_, ignored);
    filePath_.clear();
  }
  fileOffset_ = 0;
  URLRequest request;
  {
    std::lock_guard guard(mutex_);
    request = currentRequest_;
  }
  const auto folder = downloadFolder(request);
  fileFolder_ = folder;
  // Nameless while it is written (named when the task finishes), so a program killed in the
  // middle of a download leaves nothing behind in the folder.
  if (const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); fd >= 0) {
    file_.reset(fd);
    filePath_.clear();
    return true;
  }
  // File systems without O_TMPFILE.
  std::string pattern = (folder / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    abortCode_ = URLError::cannotCreateFile;
    abortDetail_ = std::system_category().message(errno);
    return false;
  }
  file_.reset(fd);
  filePath_ = pattern;
  return true;
}

void TransferTask::nameFile() {
  if (!file_ || !filePath_.empty()) return;
  const auto& folder = fileFolder_;
  const std::string source = "/proc/self/fd/" + std::to_string(file_.get());
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const auto candidate =
        folder / (std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" +
                  std::to_string(identifier_) + "-" + std::to_string(attempt));
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      filePath_ = candidate;
      return;
    }
    if (errno != EEXIST) return;
  }
}

std::size_t TransferTask::onBody(char* data, std::size_t size, std::size_t count, void* opaque) {
  auto* self = static_cast<TransferTask*>(opaque);
  if (!self->gateOpen_ || self->userPaused_) return CURL_WRITEFUNC_PAUSE;
  const std::size_t length = size * count;
  self->lastActivity_ = Clock::now();
  if (self->bodyLimit_ &&
      self->countOfBytesReceived() + static_cast<std::int64_t>(length) > *self->bodyLimit_) {
    self->abortCode_ = URLError::dataLengthExceedsMaximum;
    self->abortDetail_ = "more than " + std::to_string(*self->bodyLimit_) + " bytes";
    return 0;
  }
  if (self->kind_ == Kind::download) {
    if (!writeAll(self->file_.get(), data, length)) {
      self->abortCode_ = URLError::cannotWriteToFile;
      self->abortDetail_ = std::system_category().message(errno);
      return 0;
    }
    self->written_ += static_cast<std::int64_t>(length);
  }
  std::lock_guard guard(self->mutex_);
  self->bytesReceived_ += static_cast<std::int64_t>(length);
  if (self->kind_ == Kind::download) {
    self->fileBytes_ = self->fileOffset_ + self->written_;
    self->pendingWritten_ += static_cast<std::int64_t>(length);
  } else {
    self->pendingData_.append(data, length);
  }
  self->postCoalescedProgress();
  return length;
}

int TransferTask::onProgress(void* opaque, curl_off_t, curl_off_t downloaded, curl_off_t,
                             curl_off_t uploaded) {
  auto* self = static_cast<TransferTask*>(opaque);
  const auto now = Clock::now();
  const curl_off_t moved = downloaded + uploaded;
  // Time spent suspended or waiting for the delegate is nobody's inactivity.
  if (self->userPaused_ || (self->headersDone_ && !self->gateOpen_)) {
    self->lastActivity_ = self->windowStart_ = now;
    self->windowMoved_ = self->lastMoved_ = moved;
    return 0;
  }
  if (moved != self->lastMoved_) {
    self->lastMoved_ = moved;
    self->lastActivity_ = now;
  }
  if (now - self->lastActivity_ >= std::chrono::duration<double>(self->timeoutSeconds_)) {
    self->abortCode_ = URLError::timedOut;
    self->abortDetail_ = "no data for " + std::to_string(self->timeoutSeconds_) + " s";
    return 1;
  }
  if (!self->lowSpeedArmed_) {
    // The speed guard counts from the first body byte: waiting for a slow server to answer
    // is the inactivity time-out's business.
    if (downloaded == 0) return 0;
    self->lowSpeedArmed_ = true;
    self->windowStart_ = now;
    self->windowMoved_ = moved;
  }
  const auto& configuration = self->context_->configuration;
  const std::chrono::duration<double> window = now - self->windowStart_;
  if (configuration.lowSpeedTimeSeconds > 0 &&
      window.count() >= static_cast<double>(configuration.lowSpeedTimeSeconds)) {
    const double rate = static_cast<double>(moved - self->windowMoved_) / window.count();
    if (rate < static_cast<double>(configuration.lowSpeedLimitBytesPerSecond)) {
      self->abortCode_ = URLError::timedOut;
      self->abortDetail_ =
          "slower than " + std::to_string(configuration.lowSpeedLimitBytesPerSecond) + " bytes/s";
      return 1;
    }
    self->windowStart_ = now;
    self->windowMoved_ = moved;
  }
  return 0;
}

void TransferTask::transferDone(CURLcode result) {
  if (finished_) return;
  if (abortCode_) {
    collectMetrics();
    finish(abortCode_, abortDetail_);
  } else if (result != CURLE_OK) {
    collectMetrics();
    finish(urlErrorCodeFromCurl(result),
           errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(result));
  } else if (!headersDone_) {
    collectMetrics();
    finish(URLError::badServerResponse, "no response head");
  } else if (!gateOpen_) {
    doneParked_ = true;  // the delegate has not decided yet; finish when it has
  } else {
    collectMetrics();
    finish(std::nullopt);
  }
}

void TransferTask::redirectDecided(std::uint64_t generation, std::optional<URLRequest> request) {
  if (finished_ || generation != generation_ || !pendingRedirectHead_) return;
  auto head = std::exchange(pendingRedirectHead_, nullptr);
  if (request) {
    std::optional<URL> from;
    {
      std::lock_guard guard(mutex_);
      from = currentRequest_.url;
    }
    if (!from || !request->url || !sameOrigin(*from, *request->url)) crossedOrigin_ = true;
    stopTransfer();
    collectMetrics();
    ++metrics_.redirectCount;
    {
      std::lock_guard guard(mutex_);
      currentRequest_ = *request;
    }
    startAttempt(*request);
    return;
  }
  // Refused: the redirect response itself is the answer.
  if (!finalResponse(head)) {
    stopTransfer();
    collectMetrics();
    finish(abortCode_, abortDetail_);
    return;
  }
  if (doneParked_ && gateOpen_) {
    collectMetrics();
    finish(std::nullopt);
  } else if (gateOpen_ && inMulti_ && !userPaused_) {
    // The redirect's body was held while the delegate decided; it is the answer now.
    curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
  }
}

void TransferTask::responseDecided(std::uint64_t generation, ResponseDisposition disposition) {
  if (finished_ || generation != generation_) return;
  if (disposition == ResponseDisposition::cancel) {
    stopTransfer();
    collectMetrics();
    finish(URLError::cancelled);
    return;
  }
  gateOpen_ = true;
  if (doneParked_) {
    collectMetrics();
    finish(std::nullopt);
  } else if (inMulti_ && !userPaused_) {
    curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
  }
}

void TransferTask::stopTransfer() {
  if (inMulti_) {
    context_->engine->remove(easy_.get());
    inMulti_ = false;
  }
}

void TransferTask::collectMetrics() {
  if (!easy_) return;
  CURL* easy = easy_.get();
  auto seconds = [easy](CURLINFO info) {
    curl_off_t micro = 0;
    return curl_easy_getinfo(easy, info, &micro) == CURLE_OK ? static_cast<double>(micro) / 1e6
                                                             : 0.0;
  };
  metrics_.nameLookupSeconds = seconds(CURLINFO_NAMELOOKUP_TIME_T);
  metrics_.connectSeconds = seconds(CURLINFO_CONNECT_TIME_T);
  metrics_.tlsHandshakeSeconds = seconds(CURLINFO_APPCONNECT_TIME_T);
  metrics_.startTransferSeconds = seconds(CURLINFO_STARTTRANSFER_TIME_T);
  metrics_.totalSeconds = seconds(CURLINFO_TOTAL_TIME_T);
  long requestSize = 0;
  curl_off_t uploaded = 0;
  curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestSize);
  curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
  metrics_.countOfBytesSent += requestSize + uploaded;
}

std::optional<Data> TransferTask::makeResumeData() const {
  URLRequest request;
  {
    std::lock_guard guard(mutex_);
    request = currentRequest_;
  }
  // A continued transfer that failed before any response keeps what it had.
  const bool continuedWithoutAnswer = sendRange_ && lastStatus_ == 0;
  if (kind_ != Kind::download || discardPartial_ || filePath_.empty() || validator_.empty() ||
      request.httpMethod != "GET" ||
      (lastStatus_ != 200 && lastStatus_ != 206 && !continuedWithoutAnswer)) {
    return std::nullopt;
  }
  ResumeData resume;
  resume.request = request;
  resume.temporaryFile = filePath_;
  resume.bytesReceived = fileOffset_ + written_;
  resume.validator = validator_;
  return resume.encoded();
}

void TransferTask::finish(std::optional<URLError::Code> code, std::string detail,
                          bool produceResumeData,
                          std::function<void(std::optional<Data>)> resumeHandler) {
  finished_ = true;
  stopTransfer();
  metrics_.taskIntervalStart = taskStart_;
  metrics_.taskIntervalDuration = Clock::now() - taskStart_;
  easy_.reset();
  headerList_.reset();
  // The finished file is handed over by name, and so is the partial file of resume data.
  if (file_) {
    nameFile();
    if (filePath_.empty() && !code) {
      code = URLError::cannotCreateFile;
      detail = std::system_category().message(errno);
    }
  }
  file_.reset();

  ErrorPtr error;
  std::optional<Data> resume;
  std::filesystem::path finishedFile;
  std::optional<URL> url;
  bool report = false;
  {
    std::lock_guard guard(mutex_);
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
    if (!resume && !filePath_.empty()) {
      std::error_code ignored;
      std::filesystem::remove(filePath_, ignored);
    }
    error = makeError(URLError(*code, url, resume, std::move(detail)));
  } else if (kind_ == Kind::download && report) {
    finishedFile = filePath_;
  } else if (kind_ == Kind::download) {
    // The task was already reported as ended; nobody will take the file.
    std::error_code ignored;
    std::filesystem::remove(filePath_, ignored);
  }

  if (resumeHandler) {
    context_->queue->async(
        [resumeHandler = std::move(resumeHandler), resume] { resumeHandler(resume); });
  }
  if (!finishedFile.empty()) {
    context_->queue->async([context = context_, task = publicTask_, finishedFile] {
      auto session = context->session.lock();
      auto publicTask = task.lock();
      if (session && publicTask && context->delegate->delegate) {
        context->delegate->delegate->didFinishDownloadingTo(*session, publicTask, finishedFile);
      }
      // Whatever the delegate did not move away is the transport's to clean up.
      std::error_code ignored;
      std::filesystem::remove(finishedFile, ignored);
    });
  }
  if (!report) return;
  post(
      [metrics = metrics_](URLSession& session, URLSessionDelegate& delegate, const TaskPtr& task) {
        delegate.didFinishCollectingMetrics(session, task, metrics);
      });
  postCompletion(error);
}

}  // namespace tolvane::platform
