#include "Services/ReleaseSignatureCheck.h"

#include <utility>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/Session.h"
#include "HTTP/Core/URLEncoding.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "HTTP/Response/Validation.h"
#include "Installer/InstalledRelease.h"
#include "Installer/ReleaseSignatureError.h"
#include "Installer/ResourceError.h"
#include "Platform/CheckedContinuation.h"
#include "Platform/DispatchQueue.h"
#include "Platform/ErrorException.h"
#include "Platform/UserDefaults.h"
#include "Services/FileDownloadService.h"
#include "Services/NetworkService.h"
#include "Services/SignatureFetchError.h"

namespace tolvane {
namespace {

// The signature's text, or the error that says why there is none.
platform::Data fetchText(const std::string& url, http::Session& session,
                         std::shared_ptr<RetryHandler> retryHandler) {
  platform::CheckedContinuation<platform::Data> continuation(FileDownloadService::kOperationName);
  // A signature is as small as a manifest and gets the manifest's time-out; a longer body
  // is refused unread.
  auto request = session.request(
      url, http::HTTPMethod::get, std::nullopt,
      std::make_shared<const http::URLEncoding>(http::URLEncoding::defaultEncoding()), std::nullopt,
      std::move(retryHandler), [](platform::URLRequest& urlRequest) -> platform::ErrorPtr {
        urlRequest.timeoutInterval =
            RetryHandler::requestTimeoutOverride().value_or(NetworkService::kTimeoutInterval);
        urlRequest.maximumBodyLength =
            static_cast<std::int64_t>(ReleaseSignature::kMaximumFileSize);
        return nullptr;
      });
  http::response(http::validate(request), platform::DispatchQueue::main(),
                 [resumer = continuation.resumer()](
                     const http::DataResponse<std::optional<platform::Data>>& response) mutable {
                   if (response.result.isSuccess()) {
                     resumer.resume(response.result.value().value_or(platform::Data()));
                   } else if (response.result.error().isResponseSerializationError()) {
                     // The plain handler's only such error: a body refused for its length.
                     resumer.resume(platform::makeError(ReleaseSignatureError::oversizedSignature(
                         ReleaseSignature::kMaximumFileSize)));
                   } else {
                     resumer.resume(platform::makeError(
                         SignatureFetchError(platform::makeError(response.result.error()))));
                   }
                 });
  return continuation.wait();
}

}  // namespace

std::shared_ptr<ReleaseSignatureCheck> ReleaseSignatureCheck::fetch(
    const std::string& releaseURL, const std::shared_ptr<http::Session>& session,
    const RetryHandlerFactory& makeRetryHandler) {
  try {
    ReleaseKeys keys = ReleaseKeys::configured();
    if (keys.empty()) return nullptr;
    const auto installed = InstalledRelease::load(platform::UserDefaults::standard());
    auto signature = ReleaseSignature::parse(fetchText(
        releaseURL + std::string(ReleaseSignature::kFileExtension), *session, makeRetryHandler()));
    return std::make_shared<ReleaseSignatureCheck>(
        std::move(signature), std::move(keys),
        installed ? std::optional(installed->timestamp) : std::nullopt);
  } catch (const platform::ErrorException& error) {
    throw ResourceError::failedDownloadLoaderModel(error.error());
  }
}

ReleaseSignatureCheck::ReleaseSignatureCheck(ReleaseSignature signature, ReleaseKeys keys,
                                             std::optional<std::int64_t> installedTimestamp)
    : signature_(std::move(signature)),
      keys_(std::move(keys)),
      installedTimestamp_(installedTimestamp) {}

http::ValidationResult ReleaseSignatureCheck::check(const std::filesystem::path& staging) {
  try {
    VerifiedRelease release = signature_.verify(staging, keys_);
    release.refuseIfOlderThan(installedTimestamp_);
    verified_.set(std::move(release));
    return http::ValidationResult::success();
  } catch (const platform::ErrorException& error) {
    return http::ValidationResult::failure(error.error());
  }
}

void ReleaseSignatureCheck::recordInstalled(const std::filesystem::path& jar) const {
  const auto release = verified_.get();
  if (!release) return;
  InstalledRelease::store(platform::UserDefaults::standard(), release->timestamp, jar);
}

}  // namespace tolvane
