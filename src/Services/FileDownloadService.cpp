#include "Services/FileDownloadService.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/RequestConvertible.h"
#include "HTTP/Core/Session.h"
#include "HTTP/Core/URLEncoding.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "HTTP/Response/Validation.h"
#include "Installer/ResourceError.h"
#include "Platform/CheckedContinuation.h"
#include "Platform/Configuration.h"
#include "Platform/DispatchQueue.h"
#include "Platform/FileManager.h"
#include "Platform/ResumeData.h"
#include "Platform/SystemError.h"
#include "Platform/URL.h"
#include "Services/DownloadResumeRecord.h"
#include "Services/JavaArchiveCheck.h"
#include "Services/NetworkService.h"
#include "Services/ReleaseSignatureCheck.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;

// The last of the body checks: a failed rename is just another failed attempt.
http::ValidationResult install(const fs::path& staging, const fs::path& destination) {
  // On disk before it takes the jar's name: the entry stored next names this jar, and after
  // a crash a jar whose blocks were never written would be started as if it were whole.
  // The transport has been writing the body back while it arrived, so little is left.
  try {
    platform::FileManager::defaultManager().replaceItemDurably(staging, destination);
    return http::ValidationResult::success();
  } catch (const platform::SystemError& failure) {
    return http::ValidationResult::failure(platform::makeError(
        http::HTTPError::downloadedFileMoveFailed(failure.error(), platform::URL::fileURL(staging),
                                                  platform::URL::fileURL(destination))));
  }
}

// Downloads keep the transport's time-outs; only the test seam changes them. The partial
// file goes to the service's own folder in the work folder, where it can outlive the run.
http::RequestModifier downloadModifier(const fs::path& partials) {
  const auto seconds = RetryHandler::requestTimeoutOverride();
  return [partials, seconds](platform::URLRequest& urlRequest) -> platform::ErrorPtr {
    if (seconds) urlRequest.timeoutInterval = *seconds;
    urlRequest.downloadDirectory = partials;
    return nullptr;
  };
}

void removeStagingFile(const fs::path& staging) {
  std::error_code ignored;
  fs::remove(staging, ignored);
}

// Drops every partial file and the resume record: what is there cannot be continued.
void discardPartials(const fs::path& partials) {
  std::error_code ignored;
  fs::remove_all(partials, ignored);
}

// The resume data of an earlier download of `entry` from `url`, when its record matches and
// its partial file is still in place.
std::optional<platform::Data> continuableDownload(const FileModel& entry, const std::string& url,
                                                  const fs::path& partials,
                                                  const fs::path& recordFile) {
  const auto record = DownloadResumeRecord::load(recordFile);
  if (!record || !(record->entry == entry) || record->url != url) return std::nullopt;
  const auto resume = platform::ResumeData::decode(record->resumeData);
  std::error_code error;
  if (!resume || resume->validator != record->validator ||
      resume->request.downloadDirectory != partials ||
      resume->temporaryFile.parent_path() != partials ||
      !fs::is_regular_file(fs::symlink_status(resume->temporaryFile, error))) {
    return std::nullopt;
  }
  return record->resumeData;
}

// The program's retry handler, plus a note after each failed attempt of what a later run
// needs to continue it: the resume record is rewritten, or removed when the attempt left
// nothing to continue.
class ResumeRecorder final : public http::RequestInterceptor {
 public:
  using Record = std::function<void(const std::optional<platform::Data>&)>;

  ResumeRecorder(std::shared_ptr<RetryHandler> handler, Record record)
      : handler_(std::move(handler)), record_(std::move(record)) {}

  using http::RequestInterceptor::adapt;
  void adapt(const platform::URLRequest& urlRequest, const std::shared_ptr<http::Session>& session,
             http::RequestAdapter::Completion completion) override {
    handler_->adapt(urlRequest, session, std::move(completion));
  }
  void retry(const std::shared_ptr<http::Request>& request,
             const std::shared_ptr<http::Session>& session, const http::HTTPError& error,
             http::RequestRetrier::Completion completion) override {
    if (const auto download = std::dynamic_pointer_cast<http::DownloadRequest>(request)) {
      record_(download->resumeData());
    }
    handler_->retry(request, session, error, std::move(completion));
  }

 private:
  const std::shared_ptr<RetryHandler> handler_;
  const Record record_;
};

// The steps a finished body passes before it may become the jar, in the order they run. They
// run on the session's queue while the attempt is still open, so a refusal is a failed
// attempt like a transport failure: it goes through the retry handler, and the old jar is
// never touched. Once one step has refused, the later ones do nothing. A check of the body
// belongs after the archive check and before the placement, which must come last.
std::vector<http::DownloadValidation> bodyChecks(
    const fs::path& staging, const fs::path& target,
    const std::shared_ptr<ReleaseSignatureCheck>& signature) {
  std::vector<http::DownloadValidation> checks = {
      // An error page or a redirect's body is no launcher.
      [](const auto&, const platform::HTTPURLResponse& response, const auto&) {
        return http::validateStatusCode(response, http::isDefaultAcceptableStatusCode);
      },
      // Neither is a maintenance page served with 200, an empty body or a spliced file.
      [staging](const auto&, const auto&, const auto&) { return checkJavaArchive(staging); },
  };
  // Only an archive is worth hashing; with release keys, nothing unsigned is placed.
  if (signature) {
    checks.emplace_back([staging, signature](const auto&, const auto&, const auto&) {
      return signature->check(staging);
    });
  }
  checks.emplace_back([staging, target](const auto&, const auto&, const auto&) {
    return install(staging, target);
  });
  return checks;
}

// Notes after each failed attempt of a download of `entry` what a later run needs to
// continue it, or removes the note when the attempt left nothing to continue.
ResumeRecorder::Record resumeRecordWriter(const std::optional<FileModel>& entry,
                                          const std::string& url, const fs::path& recordFile) {
  return [entry, url, recordFile](const std::optional<platform::Data>& data) {
    if (!entry) return;
    const auto resume = data ? platform::ResumeData::decode(*data) : std::nullopt;
    if (!resume || !DownloadResumeRecord{*entry, url, resume->validator, *data}.save(recordFile)) {
      std::error_code ignored;
      fs::remove(recordFile, ignored);
    }
  };
}

}  // namespace

FileDownloadService::FileDownloadService(WorkFolder workFolder,
                                         std::shared_ptr<http::Session> session,
                                         RetryHandlerFactory makeRetryHandler,
                                         ProgressHandler progress)
    : workFolder_(std::move(workFolder)),
      session_(std::move(session)),
      makeRetryHandler_(std::move(makeRetryHandler)),
      progress_(std::move(progress)) {}

std::string FileDownloadService::urlText(const std::optional<std::string>& from) {
  const std::string origin = platform::Configuration::updateOrigin();
  return from ? origin + "/" + *from : origin + kDefaultPath;
}

void FileDownloadService::downloadFile(std::optional<std::string> from) {
  download(from, std::nullopt);
}

void FileDownloadService::downloadEntry(const FileModel& entry) { download(entry.path, entry); }

FileDownloadService::Plan FileDownloadService::plan(const std::optional<std::string>& from,
                                                    const std::optional<FileModel>& entry) const {
  Plan plan{urlText(from), entry, std::nullopt};
  const fs::path partials = workFolder_.partialFolder();
  if (entry) {
    plan.continued = continuableDownload(*entry, plan.url, partials, workFolder_.partialRecord());
  }
  if (!plan.continued) discardPartials(partials);
  try {
    platform::FileManager::defaultManager().createDirectory(partials, true);
  } catch (const platform::SystemError& error) {
    // The transfer's file could not be made in it either; this says which folder and why
    // (a work folder the player cannot write to), and no request is spent on it.
    throw ResourceError::failedDownloadLoaderModel(error.error());
  }
  return plan;
}

std::shared_ptr<http::DownloadRequest> FileDownloadService::makeRequest(
    const Plan& plan, const std::shared_ptr<ReleaseSignatureCheck>& signature) const {
  auto downloadable =
      plan.continued
          ? http::DownloadRequest::Downloadable::resumeData(*plan.continued)
          : http::DownloadRequest::Downloadable::request(
                std::make_shared<const http::RequestConvertible>(
                    plan.url, http::HTTPMethod::get, std::nullopt,
                    std::make_shared<const http::URLEncoding>(http::URLEncoding::defaultEncoding()),
                    std::nullopt, downloadModifier(workFolder_.partialFolder())));
  auto recorder = std::make_shared<ResumeRecorder>(
      makeRetryHandler_(), resumeRecordWriter(plan.entry, plan.url, workFolder_.partialRecord()));
  // Built and started the way the session's own entry points do it.
  auto request = http::DownloadRequest::make(
      std::move(downloadable),
      [staging = workFolder_.launcherStaging()](const platform::URL&,
                                                const platform::HTTPURLResponse&) {
        return std::pair(platform::URL::fileURL(staging), kOptions);
      },
      session_->requestContext(recorder));
  request->setRetriesContinueFromResumeData(true);
  if (progress_) {
    request->downloadProgress(
        platform::DispatchQueue::main(), [progress = progress_](const auto& state) {
          progress(Progress{state.completedUnitCount(), state.totalUnitCount(), false});
        });
  }
  session_->perform(request);
  for (auto& check :
       bodyChecks(workFolder_.launcherStaging(), workFolder_.launcherJar(), signature)) {
    http::validate(request, std::move(check));
  }
  return request;
}

void FileDownloadService::download(const std::optional<std::string>& from,
                                   const std::optional<FileModel>& entry) {
  platform::DispatchQueue::main()->dispatchPreconditionNotOnQueue(kOperationName);
  // With release keys, the signature must be at hand before the body can be checked: the
  // checks run on the session's queue, where waiting for another request would never end.
  // Fetched first, so that nothing on disk changes when it cannot be had.
  const auto signature = ReleaseSignatureCheck::fetch(urlText(from), session_, makeRetryHandler_);
  const Plan planned = plan(from, entry);
  platform::CheckedContinuation<void> continuation(kOperationName);
  http::response(makeRequest(planned, signature), platform::DispatchQueue::main(),
                 [resumer = continuation.resumer(), staging = workFolder_.launcherStaging(),
                  partials = workFolder_.partialFolder(), keepPartial = entry.has_value(),
                  progress = progress_](
                     const http::DownloadResponse<std::optional<platform::URL>>& response) mutable {
                   if (progress) progress(Progress{0, platform::kTransferSizeUnknown, true});
                   if (const auto error = response.error()) {
                     removeStagingFile(staging);
                     // Without a record nothing will ever continue the partial file.
                     if (!keepPartial) discardPartials(partials);
                     resumer.resume(platform::makeError(
                         ResourceError::failedDownloadLoaderModel(platform::makeError(*error))));
                     return;
                   }
                   discardPartials(partials);
                   // Validators do not run for a transfer without an HTTP response; such a body was
                   // never checked, so it must not become the jar.
                   if (platform::FileManager::defaultManager().fileExists(staging)) {
                     removeStagingFile(staging);
                     resumer.resume(platform::makeError(ResourceError::failedDownloadLoaderModel(
                         platform::makeError(http::HTTPError::responseValidationFailed(
                             http::HTTPError::ResponseValidationFailureReason::dataFileNil())))));
                     return;
                   }
                   resumer.resume();
                 });
  continuation.wait();
  if (!signature) return;
  try {
    signature->recordInstalled(workFolder_.launcherJar());
  } catch (const platform::SystemError&) {
    // The verified jar is in place; unrecorded, it counts as not installed, so the next run
    // with the server reachable merely downloads and verifies it again.
  }
}

}  // namespace tolvane
