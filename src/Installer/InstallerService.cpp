#include "Installer/InstallerService.h"

#include <utility>
#include <vector>

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

InstallerService::InstallerService(std::shared_ptr<NetworkServicing> networkService,
                                   std::shared_ptr<FileDownloading> downloadService,
                                   fs::path unzipTool,
                                   platform::Process::OutputRouting unpackerOutput)
    : networkService_(std::move(networkService)),
      downloadService_(std::move(downloadService)),
      unzipTool_(std::move(unzipTool)),
      unpackerOutput_(unpackerOutput) {}

fs::path InstallerService::workFolderURL() const {
  return FileManager::defaultManager().homeDirectoryForCurrentUser() / kWorkFolderName;
}

fs::path InstallerService::launcherJarURL() const { return workFolderURL() / kLauncherJarName; }

fs::path InstallerService::javaExecutableURL() const {
  return workFolderURL() / kRuntimeFolderName / kRuntimeExecutable;
}

bool InstallerService::isInstalled() const {
  const auto& files = FileManager::defaultManager();
  return files.fileExists(javaExecutableURL()) && files.fileExists(launcherJarURL());
}

void InstallerService::createWorkFolder() const {
  try {
    FileManager::defaultManager().createDirectory(workFolderURL(), true);
  } catch (const SystemError& error) {
    throw ResourceError::createFolder(error.error());
  }
}

void InstallerService::installJava() const {
  if (FileManager::defaultManager().fileExists(javaExecutableURL())) return;
  const fs::path archive = workFolderURL() / kArchiveCopyName;
  // A copy left behind by an interrupted earlier run would make every later copy fail.
  removeIfPresent(archive);
  copyJavaArchive(kRuntimeFolderName, "zip", archive);
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
  const fs::path workFolder = workFolderURL();
  const fs::path staging = workFolder / kStagingFolderName;
  const fs::path runtime = workFolder / kRuntimeFolderName;
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
    files.moveItem(staging / kRuntimeFolderName, runtime);
  } catch (const SystemError& error) {
    throw ResourceError::unzipJava(error.error());
  }
}

bool InstallerService::checkForUpdate() {
  auto& defaults = UserDefaults::standard();
  const auto& files = FileManager::defaultManager();
  {
    const std::lock_guard lock(mutex_);
    replacedEntry_.reset();
  }
  ErrorPtr failure;
  try {
    const LoaderModel manifest = networkService_->fetchManifest();
    if (manifest.files.empty()) throw ResourceError::failedToGetFirstObjectFromLoaderModel();
    const FileModel& first = manifest.files.front();
    auto stored = fileModel(defaults, kLoaderModelKey);
    if (stored && *stored == first) return !files.fileExists(launcherJarURL());
    storeFileModel(defaults, first, kLoaderModelKey);
    const std::lock_guard lock(mutex_);
    replacedEntry_ = std::move(stored);
    return true;
  } catch (const platform::ErrorException& error) {
    failure = error.error();
  }
  if (files.fileExists(launcherJarURL())) return false;
  if (fileModel(defaults, kLoaderModelKey)) return true;
  throw ResourceError::failedDownloadLoaderModel(failure);
}

void InstallerService::downloadLauncher() {
  auto& defaults = UserDefaults::standard();
  std::optional<std::optional<FileModel>> replaced;
  {
    const std::lock_guard lock(mutex_);
    replaced = std::exchange(replacedEntry_, std::nullopt);
  }
  const auto stored = fileModel(defaults, kLoaderModelKey);
  if (!stored) throw ResourceError::failedGetLoaderModel();
  try {
    downloadService_->downloadEntry(*stored);
  } catch (...) {
    // The old jar stays in use; the stored entry must not claim the new version is there,
    // or the next reachable run would find "unchanged manifest, jar present" and never
    // download it. Without any jar the new entry is harmless: its absence forces a download.
    if (replaced && FileManager::defaultManager().fileExists(launcherJarURL())) {
      try {
        if (*replaced) {
          storeFileModel(defaults, **replaced, kLoaderModelKey);
        } else {
          defaults.removeObject(kLoaderModelKey);
        }
      } catch (const SystemError&) {
        // The download's error is the one to report.
      }
    }
    throw;
  }
}

void InstallerService::runLauncher() const {
  try {
    platform::Process::launchDetached(javaExecutableURL(), {"-jar", launcherJarURL().string()},
                                      workFolderURL());
  } catch (const SystemError& error) {
    throw ResourceError::failedToRunLauncher(error.error());
  }
}

}  // namespace tolvane
