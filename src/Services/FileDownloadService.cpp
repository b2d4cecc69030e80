#include "Services/FileDownloadService.h"

#include <cerrno>
#include <cstdio>
#include <utility>

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
#include "Platform/SystemError.h"
#include "Platform/URL.h"
#include "Services/NetworkService.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;

// Runs after the status check, on the session's queue, while the attempt is still open: a
// failed rename is then just another failed attempt and goes through the retries.
http::ValidationResult install(const fs::path& staging, const fs::path& destination) {
  if (std::rename(staging.c_str(), destination.c_str()) == 0) return http::ValidationResult::success();
  const auto failure = platform::SystemError::fromErrno("rename", staging, destination);
  return http::ValidationResult::failure(platform::makeError(http::HTTPError::downloadedFileMoveFailed(
      platform::makeError(failure), platform::URL::fileURL(staging),
      platform::URL::fileURL(destination))));
}

// Downloads keep the transport's time-outs; only the test seam changes them.
http::RequestModifier timeoutModifier() {
  const auto seconds = RetryHandler::requestTimeoutOverride();
  if (!seconds) return nullptr;
  return [timeout = *seconds](platform::URLRequest& urlRequest) -> platform::ErrorPtr {
    urlRequest.timeoutInterval = timeout;
    return nullptr;
  };
}

void removeStagingFile(const fs::path& staging) {
  std::error_code ignored;
  fs::remove(staging, ignored);
}

}  // namespace

FileDownloadService::FileDownloadService() : FileDownloadService(&RetryHandler::make) {}

FileDownloadService::FileDownloadService(RetryHandlerFactory makeRetryHandler)
    : makeRetryHandler_(std::move(makeRetryHandler)) {}

fs::path FileDownloadService::destination() {
  return platform::FileManager::defaultManager().homeDirectoryForCurrentUser() / kWorkFolderName /
         kDestinationName;
}

fs::path FileDownloadService::stagingFile() {
  return platform::FileManager::defaultManager().homeDirectoryForCurrentUser() / kWorkFolderName /
         kStagingName;
}

std::string FileDownloadService::urlText(const std::optional<std::string>& from) {
  const std::string origin = platform::Configuration::updateOrigin();
  return from ? origin + "/" + *from : origin + kDefaultPath;
}

void FileDownloadService::downloadFile(std::optional<std::string> from) {
  assertNotOnMainQueue(kOperationName);
  const fs::path target = destination();
  const fs::path staging = stagingFile();
  platform::CheckedContinuation<void> continuation(kOperationName);

  // Built and started the way the session's own entry points do it.
  const auto& session = http::Session::defaultSession();
  auto request = http::DownloadRequest::make(
      http::DownloadRequest::Downloadable::request(std::make_shared<const http::RequestConvertible>(
          urlText(from), http::HTTPMethod::get, std::nullopt,
          std::make_shared<const http::URLEncoding>(http::URLEncoding::defaultEncoding()),
          std::nullopt, timeoutModifier())),
      [staging](const platform::URL&, const platform::HTTPURLResponse&) {
        return std::pair(platform::URL::fileURL(staging), kOptions);
      },
      session->requestContext(makeRetryHandler_()));
  session->perform(request);
  http::validate(request, std::function<bool(int)>(http::isDefaultAcceptableStatusCode));
  http::validate(request, http::DownloadValidation(
                              [staging, target](const auto&, const auto&, const auto&) {
                                return install(staging, target);
                              }));
  http::response(
      request, platform::DispatchQueue::main(),
      [resumer = continuation.resumer(),
       staging](const http::DownloadResponse<std::optional<platform::URL>>& response) mutable {
        if (const auto error = response.error()) {
          removeStagingFile(staging);
          resumer.resume(platform::makeError(
              ResourceError::failedDownloadLoaderModel(platform::makeError(*error))));
          return;
        }
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
}

}  // namespace tolvane
