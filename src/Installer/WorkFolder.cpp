#include "Installer/WorkFolder.h"

#include "Platform/FileManager.h"

namespace tolvane {

namespace fs = std::filesystem;

WorkFolder::WorkFolder(const fs::path& home) : root_(home / kName) {}

WorkFolder WorkFolder::forCurrentUser() {
  return WorkFolder(platform::FileManager::defaultManager().homeDirectoryForCurrentUser());
}

fs::path WorkFolder::launcherJar() const { return root_ / "Tolvane.jar"; }
fs::path WorkFolder::launcherStaging() const { return root_ / ".Tolvane.jar.download"; }
fs::path WorkFolder::partialFolder() const { return root_ / ".Tolvane.jar.partial"; }
fs::path WorkFolder::partialRecord() const { return partialFolder() / "resume.json"; }
fs::path WorkFolder::runtimeFolder() const { return root_ / kRuntimeFolderName; }
fs::path WorkFolder::javaExecutable() const { return runtimeFolder() / "bin" / "java"; }
fs::path WorkFolder::runtimeStaging() const { return root_ / ".java-staging"; }
fs::path WorkFolder::archiveCopy() const { return root_ / "java.zip"; }
fs::path WorkFolder::runLock() const { return root_ / ".installer.lock"; }

}  // namespace tolvane
