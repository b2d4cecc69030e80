#include "Platform/URLSession.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "Platform/CurlMulti.h"
#include "Platform/FileDescriptor.h"
#include "Platform/ResumeData.h"
#include "Platform/TransferTask.h"

namespace tolvane::platform {
namespace {

std::optional<std::string> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool writeWhole(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// libcurl with OpenSSL takes one CA file; to trust an extra CA besides the system's, the
// two bundles are written together into one file the session owns. A file (rather than
// an in-memory blob) lets libcurl parse it once per session instead of per connection.
//
// The file is an anonymous memory file that libcurl opens through /proc/self/fd: it needs
// no name in the temp folder, so nothing is left there however the program ends (it
// quits with _Exit, and may be killed). Only where that is unavailable does a temp file
// stand in, removed with the session.
class CABundleFile {
 public:
  explicit CABundleFile(const std::optional<std::filesystem::path>& extra) {
    if (!extra) return;
    const auto extraText = readFile(*extra);
    if (!extraText) return;
    std::string bundle;
    if (CurlEasy probe{curl_easy_init()}) {
      char* systemPath = nullptr;
      if (curl_easy_getinfo(probe.get(), CURLINFO_CAINFO, &systemPath) == CURLE_OK &&
          systemPath != nullptr) {
        bundle = readFile(systemPath).value_or("");
      }
    }
    if (!bundle.empty() && bundle.back() != '\n') bundle.push_back('\n');
    bundle += *extraText;
    if (FileDescriptor memory(::memfd_create("tolvane-ca", MFD_CLOEXEC));
        memory && writeWhole(memory.get(), bundle)) {
      const std::string path = "/proc/self/fd/" + std::to_string(memory.get());
      if (::access(path.c_str(), R_OK) == 0) {
        memory_ = std::move(memory);
        path_ = path;
        return;
      }
    }
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "tolvane-ca-XXXXXX").string();
    FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!file) return;
    path_ = pattern;
    temporary_ = true;
    if (!writeWhole(file.get(), bundle)) {
      std::filesystem::remove(path_, error);
      path_.clear();
    }
  }
  ~CABundleFile() {
    std::error_code ignored;
    if (temporary_ && !path_.empty()) std::filesystem::remove(path_, ignored);
  }
  CABundleFile(const CABundleFile&) = delete;
  CABundleFile& operator=(const CABundleFile&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  FileDescriptor memory_;
  std::filesystem::path path_;
  bool temporary_ = false;
};

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
  std::unique_ptr<CABundleFile> caBundle;
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
  impl->caBundle = std::make_unique<CABundleFile>(configuration.additionalCAFile);
  context->caBundle = impl->caBundle->path();

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
