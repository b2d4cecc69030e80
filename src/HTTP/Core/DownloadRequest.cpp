#include "HTTP/Core/DownloadRequest.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HTTP/Core/EventMonitor.h"
#include "Platform/ErrorException.h"
#include "Platform/OperatingSystem.h"
#include "Platform/ResumeData.h"
#include "Platform/SystemError.h"

namespace tolvane::http {

using platform::Data;
using platform::TaskPtr;
using platform::URL;
using platform::URLSessionTask;

namespace {

constexpr const char* kDefaultDestinationPrefix = "TolvaneHTTP_";

// A name the server suggested, cut down to one plain path component.
std::string safeFileName(const std::string& suggested) {
  const auto slash = suggested.find_last_of("/\\");
  std::string name = slash == std::string::npos ? suggested : suggested.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos)
    return "Unknown";
  return name;
}

std::filesystem::path standardDirectory(DownloadRequest::SearchPathDirectory directory) {
  auto home = platform::FileManager::defaultManager().homeDirectoryForCurrentUser();
  switch (directory) {
    case DownloadRequest::SearchPathDirectory::documentDirectory:
      return home / "Documents";
    case DownloadRequest::SearchPathDirectory::downloadsDirectory:
      return home / "Downloads";
    case DownloadRequest::SearchPathDirectory::cachesDirectory:
      return platform::os::cacheFolder();
  }
  return home;
}

}  // namespace

DownloadRequest::DownloadRequest(Downloadable downloadable, Destination destination,
                                 Context context)
    : Request(std::move(context)),
      downloadable_(std::move(downloadable)),
      destination_(destination ? std::move(destination) : defaultDestinationFunction()) {}

std::shared_ptr<DownloadRequest> DownloadRequest::make(Downloadable downloadable,
                                                       Destination destination, Context context) {
  return std::make_shared<DownloadRequest>(std::move(downloadable), std::move(destination),
                                           std::move(context));
}

std::pair<URL, DownloadRequest::Options> DownloadRequest::defaultDestination(
    const URL& temporaryURL) {
  const auto temporary = temporaryURL.filePath();
  return {URL::fileURL(temporary.parent_path() /
                       (kDefaultDestinationPrefix + temporary.filename().string())),
          Options()};
}

DownloadRequest::Destination DownloadRequest::defaultDestinationFunction() {
  return [](const URL& temporaryURL, const platform::HTTPURLResponse&) {
    return defaultDestination(temporaryURL);
  };
}

DownloadRequest::Destination DownloadRequest::suggestedDownloadDestination(
    SearchPathDirectory directory, SearchPathDomain /*domain*/, Options options) {
  return
      [directory, options](const URL& /*temporaryURL*/, const platform::HTTPURLResponse& response) {
        return std::pair{
            URL::fileURL(standardDirectory(directory) / safeFileName(response.suggestedFilename)),
            options};
      };
}

std::optional<URL> DownloadRequest::fileURL() const {
  return mutableDownloadState_.read([](const MutableDownloadState& s) { return s.fileURL; });
}

std::optional<Data> DownloadRequest::resumeData() const {
  if (auto stored =
          mutableDownloadState_.read([](const MutableDownloadState& s) { return s.resumeData; }))
    return stored;
  if (auto failure = error()) return failure->downloadResumeData();
  return std::nullopt;
}

TaskPtr DownloadRequest::makeTask(RequestKey /*key*/, const platform::URLRequest& request,
                                  platform::URLSession& session) {
  return session.downloadTask(request);
}

void DownloadRequest::setRetriesContinueFromResumeData(bool continues) {
  mutableDownloadState_.write([&](MutableDownloadState& s) { s.retriesContinue = continues; });
}

std::optional<Data> DownloadRequest::retryResumeData() const {
  return mutableDownloadState_.read(
      [](const MutableDownloadState& s) { return s.retryResumeData; });
}

TaskPtr DownloadRequest::makeTaskFromResumeData(RequestKey /*key*/,
                                                platform::URLSession& session) const {
  if (auto pending = retryResumeData()) return session.downloadTask(*pending);
  const auto* data = downloadable_.resumeData();
  return data ? session.downloadTask(*data) : nullptr;
}

std::shared_ptr<DownloadRequest> DownloadRequest::resume() {
  Request::resume();
  return self();
}

std::shared_ptr<DownloadRequest> DownloadRequest::suspend() {
  Request::suspend();
  return self();
}

std::shared_ptr<DownloadRequest> DownloadRequest::cancel() {
  Request::cancel();
  return self();
}

void DownloadRequest::cancelRequest() { cancel(std::nullopt); }

std::shared_ptr<DownloadRequest> DownloadRequest::cancelProducingResumeData(
    bool producingResumeData) {
  if (producingResumeData) {
    cancel(std::function<void(std::optional<Data>)>([](std::optional<Data>) {}));
  } else {
    cancel(std::nullopt);
  }
  return self();
}

std::shared_ptr<DownloadRequest> DownloadRequest::cancelByProducingResumeData(
    std::function<void(std::optional<Data>)> completion) {
  cancel(completion ? std::move(completion) : [](std::optional<Data>) {});
  return self();
}

void DownloadRequest::cancel(
    std::optional<std::function<void(std::optional<Data>)>> resumeDataHandler) {
  auto me = self();
  const bool handed = mutableState_.write([&](MutableState& s) {
    if (!allowsTransition(s.state, State::cancelled)) return false;
    s.state = State::cancelled;
    underlyingQueue()->async([me] { me->didCancel(RequestKey{}); });
    const TaskPtr task = s.tasks.empty() ? nullptr : s.tasks.back();
    if (!task || task->kind() != URLSessionTask::Kind::download ||
        task->state() == URLSessionTask::State::completed) {
      // No transfer will report back, so nothing else would end the request.
      underlyingQueue()->async([me] { me->finish(RequestKey{}); });
      return false;
    }
    // Resumed first so that a task that never ran still reports metrics and completion.
    task->resume();
    if (!resumeDataHandler) {
      task->cancel();
      underlyingQueue()->async([me, task] { me->didCancelTask(RequestKey{}, task); });
      return true;
    }
    std::weak_ptr<DownloadRequest> weak = me;
    task->cancelByProducingResumeData([weak, task, handler = std::move(*resumeDataHandler)](
                                          std::optional<Data> data) {
      if (auto request = weak.lock()) {
        request->mutableDownloadState_.write([&](MutableDownloadState& d) { d.resumeData = data; });
        request->underlyingQueue()->async(
            [request, task] { request->didCancelTask(RequestKey{}, task); });
      }
      handler(std::move(data));
    });
    return true;
  });
  // Nothing to produce resume data from (already over, or no running download): a caller
  // waiting for the data still hears back, once, after the cancellation it asked for.
  if (!handed && resumeDataHandler) {
    underlyingQueue()->async([handler = std::move(*resumeDataHandler)] { handler(std::nullopt); });
  }
}

void DownloadRequest::didFinishDownloadingTo(RequestKey /*key*/, const TaskPtr& task,
                                             const std::filesystem::path& temporaryFile,
                                             const platform::FileManager& fileManager) {
  assertOnUnderlyingQueue();
  const URL temporaryURL = URL::fileURL(temporaryFile);
  const auto current = lastTask();
  const auto response = current ? current->response() : nullptr;
  const auto [destination, options] =
      response ? destination_(temporaryURL, *response) : defaultDestination(temporaryURL);
  if (const auto& monitor = eventMonitor())
    monitor->requestDidCreateDestinationURL(self(), destination);

  try {
    if (!destination.isFileURL()) {
      throw platform::SystemError(EINVAL, platform::SystemError::Operation::move, temporaryFile,
                                  std::filesystem::path(destination.absoluteString()));
    }
    const auto target = destination.filePath();
    if (options.contains(Options::createIntermediateDirectories)) {
      fileManager.createDirectory(target.parent_path(), true);
    }
    if (options.contains(Options::removePreviousFile) && fileManager.fileExists(target)) {
      // The new file is first brought next to the old one and then renamed over it, so a
      // move that fails (a full disk while copying across file systems) keeps the old file
      // instead of leaving nothing behind.
      const auto staging =
          target.parent_path() / ("." + target.filename().string() + ".tolvane-download");
      if (fileManager.fileExists(staging)) fileManager.removeItem(staging);
      fileManager.moveItem(temporaryFile, staging);
      if (std::filesystem::is_directory(target)) fileManager.removeItem(target);
      if (std::rename(staging.c_str(), target.c_str()) != 0) {
        // Told as saving the target: the staging name is ours, not the caller's.
        const auto failure =
            platform::SystemError::fromErrno(platform::SystemError::Operation::save, target);
        std::error_code ignored;
        std::filesystem::remove(staging, ignored);
        throw failure;
      }
    } else {
      fileManager.moveItem(temporaryFile, target);
    }
    didFinishDownloading(RequestKey{}, task, destination);
  } catch (const platform::ErrorException& failure) {
    didFinishDownloading(
        RequestKey{}, task,
        HTTPError::downloadedFileMoveFailed(failure.error(), temporaryURL, destination));
  }
}

void DownloadRequest::didFinishDownloading(RequestKey /*key*/, const TaskPtr& task,
                                           const Result<URL>& result) {
  assertOnUnderlyingQueue();
  if (const auto& monitor = eventMonitor())
    monitor->requestDidFinishDownloadingUsingTaskWithResult(self(), task, result);
  if (result.isSuccess()) {
    mutableDownloadState_.write([&](MutableDownloadState& s) { s.fileURL = result.value(); });
  } else {
    setError(RequestKey{}, result.error());
  }
}

void DownloadRequest::updateDownloadProgress(RequestKey /*key*/, std::int64_t bytes,
                                             std::int64_t totalBytesExpected) {
  assertOnUnderlyingQueue();
  const auto& progress = downloadProgress();
  progress->setTotalUnitCount(totalBytesExpected);
  progress->setCompletedUnitCount(progress->completedUnitCount() + bytes);
  callDownloadProgressHandler();
}

void DownloadRequest::discardPartialFile(const std::optional<HTTPError>& failure) const {
  const auto data = failure ? failure->downloadResumeData() : std::nullopt;
  if (!data) return;
  // A retry of a resumed download continues the same partial file.
  if (const auto* from = downloadable_.resumeData()) {
    const auto ours = platform::ResumeData::decode(*from);
    const auto theirs = platform::ResumeData::decode(*data);
    if (ours && theirs && ours->temporaryFile == theirs->temporaryFile) return;
  }
  platform::URLSession::discardResumeData(*data);
}

void DownloadRequest::errorReplaced(const HTTPError& replaced) { discardPartialFile(replaced); }

void DownloadRequest::reset() {
  // Read before the base reset clears the failed attempt's error, which carries it.
  const auto failure = error();
  auto left = failure ? failure->downloadResumeData() : std::nullopt;
  const bool continues =
      mutableDownloadState_.read([](const MutableDownloadState& s) { return s.retriesContinue; });
  // A retry from the start leaves the attempt's partial file unreachable.
  if (!continues) discardPartialFile(failure);
  Request::reset();
  mutableDownloadState_.write([&](MutableDownloadState& s) {
    s.resumeData.reset();
    s.fileURL.reset();
    s.retryResumeData = s.retriesContinue ? std::move(left) : std::nullopt;
  });
}

}  // namespace tolvane::http
