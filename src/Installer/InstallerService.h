#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Installer/FileDownloading.h"
#include "Installer/FileModel.h"
#include "Installer/NetworkServicing.h"
#include "Installer/WorkFolder.h"
#include "Platform/Process.h"
#include "Platform/ThreadSafety.h"
#include "Platform/UnfairLock.h"

namespace tolvane {

// Does the whole job of the program: prepares the work folder it is given, provisions the
// bundled Java runtime there once, keeps the launcher jar up to date against the update
// server's manifest, and starts the launcher. What persists between runs is on disk and in
// the user defaults entry "loaderModel" (and, with release keys configured, the
// InstalledRelease record the download service writes).
//
// With release keys configured, only a jar the InstalledRelease record vouches for counts as
// installed: a jar from before the keys (or written by anything but a verified download) is
// downloaded and verified before anything is started, and is never started as a fallback.
//
// The operations are blocking and meant for the run's background thread. The in-memory
// state (the entry checkForUpdate() decided to download, and the entry whose download failed
// in this process) is guarded by lock_. All pipeline failures are thrown as ResourceError.
class InstallerService {
 public:
  // The bundle resource "java.zip".
  static constexpr const char* kRuntimeArchiveName = "java";
  static constexpr const char* kUnzipTool = "/usr/bin/unzip";

  // `unzipTool` exists for tests that need an unpacker that fails in a particular way.
  // `unpackerOutput` is where the unpacker's listing goes: a front end that keeps standard
  // output for its own lines routes it away.
  InstallerService(WorkFolder workFolder, std::shared_ptr<NetworkServicing> networkService,
                   std::shared_ptr<FileDownloading> downloadService,
                   std::filesystem::path unzipTool = kUnzipTool,
                   platform::Process::OutputRouting unpackerOutput =
                       platform::Process::OutputRouting::inherited);

  // True when the runtime executable exists and the launcher jar is installed.
  [[nodiscard]] bool isInstalled() const;

  // Creates the work folder (an existing one is fine). Throws createFolder.
  void createWorkFolder() const;

  // Provisions the runtime unless its executable already exists: copies the bundled
  // archive into the work folder, unpacks it, removes the copy.
  void installJava() const;

  // Copies the bundle resource "<name>.<withExtension>" to `to`, which must not exist.
  // Throws getJavaZipURL when the bundle has no such resource, copyJava when copying fails.
  void copyJavaArchive(const std::string& name, const std::string& withExtension,
                       const std::filesystem::path& to) const;

  // Unpacks the archive with /usr/bin/unzip and puts its "java" folder into the work
  // folder; the archive copy is removed in every case. Throws unzipJava when the tool
  // cannot start, fails, or the archive holds no "java" folder.
  void unzipJavaArchive(const std::filesystem::path& at) const;

  // Asks the update server for the manifest and answers whether the jar must be
  // downloaded. A manifest entry that differs from the stored one is kept in memory for
  // downloadLauncher(), unless its download already failed in this process while an older
  // jar exists (then the older jar is used). When the manifest is unusable it carries on
  // with what is on disk; with nothing to go on it throws failedDownloadLoaderModel
  // carrying the cause.
  bool checkForUpdate() TOLVANE_EXCLUDES(lock_);

  // Downloads the jar from the entry checkForUpdate() decided on, else from the stored
  // entry's path, and stores that entry once the jar is in place. Throws
  // failedGetLoaderModel with neither, and passes the download's error on unchanged.
  void downloadLauncher() TOLVANE_EXCLUDES(lock_);

  // Starts "java -jar <jar>" in the work folder as an independent process and returns.
  // Throws failedToRunLauncher when it cannot be started.
  void runLauncher() const;

  [[nodiscard]] const WorkFolder& workFolder() const { return workFolder_; }

 private:
  // The launcher jar exists and, with release keys configured, is the verified one.
  [[nodiscard]] bool launcherInstalled() const;

  const WorkFolder workFolder_;
  std::shared_ptr<NetworkServicing> networkService_;
  std::shared_ptr<FileDownloading> downloadService_;
  std::filesystem::path unzipTool_;
  platform::Process::OutputRouting unpackerOutput_;

  platform::UnfairLock lock_;
  // The manifest entry the next download fetches and then stores. Cleared by the next check
  // or download.
  std::optional<FileModel> pendingEntry_ TOLVANE_GUARDED_BY(lock_);
  // The newest entry whose download failed in this process while an older jar existed.
  std::optional<FileModel> failedEntry_ TOLVANE_GUARDED_BY(lock_);
};

}  // namespace tolvane
