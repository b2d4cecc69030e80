#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HTTP/Core/DownloadRequest.h"
#include "Installer/FileDownloading.h"
#include "Installer/WorkFolder.h"
#include "Platform/HTTPURLResponse.h"
#include "Services/RetryHandler.h"

namespace tolvane {

namespace http {
class Session;
}

class ReleaseSignatureCheck;

// Downloads one file from the update server, through the session it is given, and installs
// it as the work folder's launcher jar. The only writer of that file.
//
// Only a complete body with a 2xx status that is a Java archive replaces the jar: the body goes
// to a staging file next to it, a status outside 200..<300 or a body that is no zip archive
// counts as a failed attempt (and is retried like a transport failure), and the staging file
// is renamed onto the jar in one step once an attempt has passed. A failed download leaves
// the previous jar byte for byte as it was and removes the staging file. Every failure is
// thrown as ResourceError::failedDownloadLoaderModel carrying the HTTP layer's error, or the
// file system's when the partial folder cannot be made (then no request is sent).
//
// With release keys configured (TOLVANE_RELEASE_PUBLIC_KEYS), the file's minisign signature
// ("<address>.minisig") is fetched first, and the body must also verify against it and be
// signed no earlier than the installed release before it takes the jar's name; the verified
// release is then recorded (InstalledRelease). A signature that cannot be fetched or read, a
// malformed key, or a body that does not verify fails the download the same way. Without
// keys none of this happens: no request, no check, no record.
//
// Interrupted transfers are continued rather than restarted. The partial file lives in the
// work folder's partial folder; a retry continues it from the HTTP layer's resume data
// (Range with If-Range, when the server gave a strong validator). For a manifest entry
// (downloadEntry) a resume record beside the partial file ties it to that entry after
// every failed attempt, so the next run continues too. A partial file is only continued
// for the same entry and address and the server's own validator; otherwise it is
// discarded and the download starts clean. A 200 to a ranged request restarts the body.
//
// Stateless between calls; the same threading rule as NetworkService: the call blocks
// until a main-queue completion, so it must not be made from main-queue work (that stops
// the process). Progress reports arrive on the main queue.
class FileDownloadService final : public FileDownloading {
 public:
  using RetryHandlerFactory = std::function<std::shared_ptr<RetryHandler>()>;
  // Bytes of the file so far (a continued part included) and the expected size, or
  // kTransferSizeUnknown; `finished` once, when the download has ended either way.
  struct Progress {
    std::int64_t bytes = 0;
    std::int64_t expected = platform::kTransferSizeUnknown;
    bool finished = false;
  };
  using ProgressHandler = std::function<void(const Progress&)>;

  // Requested when no path is given.
  static constexpr const char* kDefaultPath = "/loaderv3.php?os=macos";
  static constexpr const char* kOperationName = "downloadFile(from:)";
  // removePreviousFile | createIntermediateDirectories.
  static constexpr http::DownloadOptions kOptions{3};

  // Every request gets a handler from `makeRetryHandler` (RetryHandler::make in production;
  // tests pass handlers with short delays); a front end passes a progress handler.
  FileDownloadService(WorkFolder workFolder, std::shared_ptr<http::Session> session,
                      RetryHandlerFactory makeRetryHandler = &RetryHandler::make,
                      ProgressHandler progress = nullptr);

  // Downloads origin + "/" + `from` (the path appended as it is), or the manifest endpoint
  // when `from` is absent, and installs the body as the launcher jar. Retries continue an
  // interrupted transfer; nothing is kept for a later run.
  void downloadFile(std::optional<std::string> from) override;
  // The same for `entry.path`, and an interrupted download of this entry is continued by
  // the next call for it, in this run or a later one.
  void downloadEntry(const FileModel& entry) override;

  // What downloadFile requests.
  [[nodiscard]] static std::string urlText(const std::optional<std::string>& from);

 private:
  // Where a download starts from: the address, the entry a later run may continue it for,
  // and the resume data of an earlier interrupted download of that entry, when it can be
  // continued.
  struct Plan {
    std::string url;
    std::optional<FileModel> entry;
    std::optional<platform::Data> continued;
  };

  // Also readies the partial folder: emptied unless its partial file is continued.
  [[nodiscard]] Plan plan(const std::optional<std::string>& from,
                          const std::optional<FileModel>& entry) const;
  // The request, started, with the checks its body must pass attached in their order.
  // `signature`, when release keys are configured, adds its check before the placement.
  [[nodiscard]] std::shared_ptr<http::DownloadRequest> makeRequest(
      const Plan& plan, const std::shared_ptr<ReleaseSignatureCheck>& signature) const;
  void download(const std::optional<std::string>& from, const std::optional<FileModel>& entry);

  const WorkFolder workFolder_;
  const std::shared_ptr<http::Session> session_;
  RetryHandlerFactory makeRetryHandler_;
  ProgressHandler progress_;
};

}  // namespace tolvane
