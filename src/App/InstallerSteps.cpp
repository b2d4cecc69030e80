#include "App/InstallerSteps.h"

#include <unistd.h>

#include <iostream>
#include <utility>

#include "HTTP/Core/Session.h"
#include "Installer/WorkFolder.h"
#include "Services/FileDownloadService.h"
#include "Services/NetworkService.h"

namespace tolvane {

InstallerSteps::InstallerSteps(std::shared_ptr<InstallerService> installer)
    : installer_(std::move(installer)) {}

std::shared_ptr<InstallerSteps> InstallerSteps::makeDefault() { return makeDefault(Options()); }

std::shared_ptr<InstallerSteps> InstallerSteps::makeDefault(Options options) {
  const auto workFolder = WorkFolder::forCurrentUser();
  const auto& session = http::Session::defaultSession();
  return std::make_shared<InstallerSteps>(std::make_shared<InstallerService>(
      workFolder, std::make_shared<NetworkService>(session),
      std::make_shared<FileDownloadService>(workFolder, session, &RetryHandler::make,
                                            std::move(options.downloadProgress)),
      InstallerService::kUnzipTool, options.unpackerOutput));
}

bool InstallerSteps::isInstalled() const { return installer_->isInstalled(); }
void InstallerSteps::createWorkFolder() { installer_->createWorkFolder(); }
std::optional<platform::FileLock> InstallerSteps::lockWorkFolder() {
  const auto lockFile = installer_->workFolder().runLock();
  if (auto lock = platform::FileLock::tryAcquire(lockFile)) return lock;
  // A writable lock file that is not free has another holder. Without a word the wait would
  // look like a hang to someone watching a terminal.
  if (::access(lockFile.c_str(), W_OK) == 0) {
    std::cerr << kWaitingMessage << std::endl;
  }
  return platform::FileLock::acquire(lockFile);
}
void InstallerSteps::installJava() { installer_->installJava(); }
bool InstallerSteps::checkForUpdate() { return installer_->checkForUpdate(); }
void InstallerSteps::downloadLauncher() { installer_->downloadLauncher(); }
void InstallerSteps::runLauncher() { installer_->runLauncher(); }

}  // namespace tolvane
