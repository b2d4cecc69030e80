#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HTTP/Core/DownloadRequest.h"
#include "Installer/FileDownloading.h"
#include "Services/RetryHandler.h"

namespace tolvane {

// Downloads one file from the update server and installs it as the launcher jar,
// "Tolvane/Tolvane.jar" in the user's home. The only writer of that file.
//
// Only a complete body with a 2xx status replaces the jar: the body goes to a staging file
// next to it, a status outside 200..<300 counts as a failed attempt (and is retried like a
// transport failure), and the staging file is renamed onto the jar in one step once an
// attempt has passed. A failed download leaves the previous jar byte for byte as it was and
// removes the staging file. Every failure is thrown as ResourceError::failedDownloadLoaderModel
// carrying the HTTP layer's error.
//
// Stateless; the same threading rule as NetworkService: the call blocks until a main-queue
// completion, so it must not be made from main-queue work (that stops the process).
class FileDownloadService final : public FileDownloading {
 public:
  using RetryHandlerFactory = std::function<std::shared_ptr<RetryHandler>()>;

  static constexpr const char* kWorkFolderName = "Tolvane";
  static constexpr const char* kDestinationName = "Tolvane.jar";
  // Hidden and in the same folder as the jar, so the final rename never crosses file systems.
  static constexpr const char* kStagingName = ".Tolvane.jar.download";
  // Requested when no path is given.
  static constexpr const char* kDefaultPath = "/loaderv3.php?os=macos";
  static constexpr const char* kOperationName = "downloadFile(from:)";
  // removePreviousFile | createIntermediateDirectories.
  static constexpr http::DownloadOptions kOptions{3};

  // Production: every request gets RetryHandler::make().
  FileDownloadService();
  // Tests pass handlers with short delays.
  explicit FileDownloadService(RetryHandlerFactory makeRetryHandler);

  // Downloads origin + "/" + `from` (the path appended as it is), or the manifest endpoint
  // when `from` is absent, and installs the body as the launcher jar.
  void downloadFile(std::optional<std::string> from) override;

  // The paths, rebuilt from the home directory at each call.
  [[nodiscard]] static std::filesystem::path destination();
  [[nodiscard]] static std::filesystem::path stagingFile();
  // What downloadFile requests.
  [[nodiscard]] static std::string urlText(const std::optional<std::string>& from);

 private:
  RetryHandlerFactory makeRetryHandler_;
};

}  // namespace tolvane
