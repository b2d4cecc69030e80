#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HTTP/Response/ValidationResult.h"
#include "Installer/ReleaseKeys.h"
#include "Installer/ReleaseSignature.h"
#include "Platform/Protected.h"
#include "Services/RetryHandler.h"

namespace tolvane {

namespace http {
class Session;
}

// The signature step of a launcher download when release keys are configured. Before the
// jar's request, fetch() gets "<release address>.minisig" through the download's session
// with a retry handler of its own; check() is one of the jar's body checks, run on the session's
// queue: the staging file must be what a release key signed, and signed no earlier than the
// installed release; once the jar has taken its name, recordInstalled() remembers the
// release (InstalledRelease) on the caller's thread. The release check() verified passes
// between the two under a lock; everything else is fixed when the check is made.
class ReleaseSignatureCheck {
 public:
  using RetryHandlerFactory = std::function<std::shared_ptr<RetryHandler>()>;

  // No check when no release key is configured: nothing is fetched. Otherwise the signature
  // of the file at `releaseURL`, fetched and parsed, with the installed release's timestamp.
  // Throws ResourceError::failedDownloadLoaderModel carrying ReleaseSignatureError when a
  // configured key is malformed or the signature does not parse (or is too long), or
  // SignatureFetchError when the request failed after its retries. Blocks like the other
  // service calls: never from main-queue work.
  [[nodiscard]] static std::shared_ptr<ReleaseSignatureCheck> fetch(
      const std::string& releaseURL, const std::shared_ptr<http::Session>& session,
      const RetryHandlerFactory& makeRetryHandler);

  ReleaseSignatureCheck(ReleaseSignature signature, ReleaseKeys keys,
                        std::optional<std::int64_t> installedTimestamp);

  // Verifies `staging` against the signature and refuses a release older than the installed
  // one. A refusal carries the ReleaseSignatureError (or the SystemError of a file that
  // cannot be read).
  [[nodiscard]] http::ValidationResult check(const std::filesystem::path& staging);

  // Records the release the last check() verified as the one installed at `jar`. Throws
  // platform::SystemError when it cannot be recorded.
  void recordInstalled(const std::filesystem::path& jar) const;

 private:
  const ReleaseSignature signature_;
  const ReleaseKeys keys_;
  const std::optional<std::int64_t> installedTimestamp_;
  platform::Protected<std::optional<VerifiedRelease>> verified_;
};

}  // namespace tolvane
