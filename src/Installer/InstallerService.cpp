#include "Installer/InstallerService.h"

#include <utility>
#include <vector>

#include "Installer/InstalledRelease.h"
#include "Installer/ResourceError.h"
#include "Installer/StoredFileModel.h"
#include "Platform/Bundle.h"
#include "Platform/ErrorException.h"
#include "Platform/FileManager.h"
#include "Platform/Process.h"
#include "Platform/ProcessTerminationError.h"
#include "Platform/SystemError.h"
#include "Platform/UserDefaults.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using platform::ErrorPtr;
using platform::FileManager;
using platform::SystemError;
using platform::UserDefaults;

void removeIfPresent(const fs::path& path) {
  try {
    FileManager::defaultManager().removeItem(path);
  } catch (const SystemError&) {
    // Absent, or not removable: the step that needs the place reports that itself.
  }
}

// Removes the transient archive copy and the staging folder however unpacking ends.
class UnpackCleanup {
 public:
  UnpackCleanup(fs::path archive, fs::path staging)
      : archive_(std::move(archive)), staging_(std::move(staging)) {}
  ~UnpackCleanup() {
    removeIfPresent(archive_);
    removeIfPresent(staging_);
  }
  UnpackCleanup(const UnpackCleanup&) = delete;
  UnpackCleanup& operator=(const UnpackCleanup&) = delete;

 private:
  fs::path archive_;
  fs::path staging_;
};

}  // namespace

InstallerService::InstallerService(WorkFolder workFolder,
                                   std::shared_ptr<NetworkServicing> networkService,
                                   std::shared_ptr<FileDownloading> downloadService,
                                   fs::path unzipTool,
                                   platform::Process::OutputRouting unpackerOutput)
    : workFolder_(std::move(workFolder)),
      networkService_(std::move(networkService)),
      downloadService_(std::move(downloadService)),
      unzipTool_(std::move(unzipTool)),
      unpackerOutput_(unpackerOutput) {}

bool InstallerService::isInstalled() const {
  return FileManager::defaultManager().fileExists(workFolder_.javaExecutable()) &&
         launcherInstalled();
}

bool InstallerService::launcherInstalled() const {
  const fs::path jar = workFolder_.launcherJar();
  if (!FileManager::defaultManager().fileExists(jar)) return false;
  if (!releaseKeysConfigured()) return true;
  const auto verified = InstalledRelease::load(UserDefaults::standard());
  return verified && verified->describes(jar);
}

void InstallerService::createWorkFolder() const {
  try {
    FileManager::defaultManager().createDirectory(workFolder_.root(), true);
  } catch (const SystemError& error) {
    throw ResourceError::createFolder(error.error());
  }
}

void InstallerService::installJava() const {
  if (FileManager::defaultManager().fileExists(workFolder_.javaExecutable())) return;
  const fs::path archive = workFolder_.archiveCopy();
  // A copy left behind by an interrupted earlier run would make every later copy fail.
  removeIfPresent(archive);
  copyJavaArchive(kRuntimeArchiveName, "zip", archive);
  unzipJavaArchive(archive);
}

void InstallerService::copyJavaArchive(const std::string& name, const std::string& withExtension,
                                       const fs::path& to) const {
  const auto resource = platform::Bundle::main().url(name, withExtension);
  if (!resource) throw ResourceError::getJavaZipURL();
  try {
    FileManager::defaultManager().copyItem(*resource, to);
  } catch (const SystemError& error) {
    throw ResourceError::copyJava(error.error());
  }
}

void InstallerService::unzipJavaArchive(const fs::path& at) const {
  const auto& files = FileManager::defaultManager();
  const fs::path staging = workFolder_.runtimeStaging();
  const fs::path runtime = workFolder_.runtimeFolder();
  removeIfPresent(staging);  // left over from a run that was killed while unpacking
  const UnpackCleanup cleanup(at, staging);
  try {
    files.createDirectory(staging, false);
    platform::Process unzip(unzipTool_, {"-o", at.string(), "-d", staging.string()});
    unzip.setStandardOutput(unpackerOutput_);
    unzip.run();
    const auto status = unzip.waitUntilExit();
    if (!status.succeeded()) {
      throw ResourceError::unzipJava(
          platform::makeError(platform::ProcessTerminationError(unzipTool_, status)));
    }
    // Only a complete extraction replaces whatever incomplete runtime is there.
    removeIfPresent(runtime);
    files.moveItem(staging / WorkFolder::kRuntimeFolderName, runtime);
  } catch (const SystemError& error) {
    throw ResourceError::unzipJava(error.error());
  }
}

bool InstallerService::checkForUpdate() {
  auto& defaults = UserDefaults::standard();
  {
    const platform::UnfairLock::Locker locker(lock_);
    pendingEntry_.reset();
  }
  ErrorPtr failure;
  try {
    const LoaderModel manifest = networkService_->fetchManifest();
    if (manifest.files.empty()) throw ResourceError::failedToGetFirstObjectFromLoaderModel();
    const FileModel& first = manifest.files.front();
    const auto stored = fileModel(defaults, kLoaderModelKey);
    const bool jarPresent = launcherInstalled();
    if (stored && *stored == first) return !jarPresent;
    // A version that could not be recorded once downloaded would be downloaded again on
    // every run; with settings that cannot be written, carry on with what is on disk.
    defaults.checkWritable();
    const platform::UnfairLock::Locker locker(lock_);
    // This version already failed to download in this process: the player asked to try
    // again, and the older jar lets them play. The next launch of the program tries anew.
    if (jarPresent && failedEntry_ && *failedEntry_ == first) return false;
    pendingEntry_ = first;
    return true;
  } catch (const platform::ErrorException& error) {
    failure = error.error();
  }
  if (launcherInstalled()) return false;
  if (fileModel(defaults, kLoaderModelKey)) return true;
  throw ResourceError::failedDownloadLoaderModel(failure);
}

void InstallerService::downloadLauncher() {
  auto& defaults = UserDefaults::standard();
  std::optional<FileModel> pending;
  {
    const platform::UnfairLock::Locker locker(lock_);
    pending = std::exchange(pendingEntry_, std::nullopt);
  }
  const auto entry = pending ? pending : fileModel(defaults, kLoaderModelKey);
  if (!entry) throw ResourceError::failedGetLoaderModel();
  const bool olderJarPresent = FileManager::defaultManager().fileExists(workFolder_.launcherJar());
  try {
    downloadService_->downloadEntry(*entry);
  } catch (...) {
    if (pending && olderJarPresent) {
      const platform::UnfairLock::Locker locker(lock_);
      failedEntry_ = pending;
    }
    throw;
  }
  if (!pending) return;
  // Only now is the new version on disk; a run killed before this point keeps the old
  // entry and so tries the update again.
  try {
    storeFileModel(defaults, *pending, kLoaderModelKey);
  } catch (const SystemError&) {
    // The jar is in place; without the entry the next run merely downloads it again.
  }
}

void InstallerService::runLauncher() const {
  try {
    platform::Process::launchDetached(workFolder_.javaExecutable(),
                                      {"-jar", workFolder_.launcherJar().string()},
                                      workFolder_.root());
  } catch (const SystemError& error) {
    throw ResourceError::failedToRunLauncher(error.error());
  }
}

}  // namespace tolvane
