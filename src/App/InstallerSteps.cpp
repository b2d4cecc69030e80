#include "App/InstallerSteps.h"

#include <utility>

#include "Services/FileDownloadService.h"
#include "Services/NetworkService.h"

namespace tolvane {

InstallerSteps::InstallerSteps(std::shared_ptr<InstallerService> installer) : installer_(std::move(installer)) {}

std::shared_ptr<InstallerSteps> InstallerSteps::makeDefault() { return makeDefault(Options()); }

std::shared_ptr<InstallerSteps> InstallerSteps::makeDefault(Options options) {
  return std::make_shared<InstallerSteps>(std::make_shared<InstallerService>(
      std::make_shared<NetworkService>(),
      std::make_shared<FileDownloadService>(&RetryHandler::make,
                                            std::move(options.downloadProgress)),
      InstallerService::kUnzipTool, options.unpackerOutput));
}

bool InstallerSteps::isInstalled() const { return installer_->isInstalled(); }
void InstallerSteps::createWorkFolder() { installer_->createWorkFolder(); }
std::optional<platform::FileLock> InstallerSteps::lockWorkFolder() {
  return platform::FileLock::acquire(installer_->workFolderURL() / kLockFileName);
}
void InstallerSteps::installJava() { installer_->installJava(); }
bool InstallerSteps::checkForUpdate() { return installer_->checkForUpdate(); }
void InstallerSteps::downloadLauncher() { installer_->downloadLauncher(); }
void InstallerSteps::runLauncher() { installer_->runLauncher(); }

}  // namespace tolvane
