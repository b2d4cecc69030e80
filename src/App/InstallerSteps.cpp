#include "App/InstallerSteps.h"

#include <unistd.h>

#include <future>
#include <iostream>
#include <utility>

#include "HTTP/Core/CompositeEventMonitor.h"
#include "HTTP/Core/Session.h"
#include "Installer/WorkFolder.h"
#include "Services/FileDownloadService.h"
#include "Services/NetworkService.h"

namespace tolvane {

InstallerSteps::InstallerSteps(std::shared_ptr<InstallerService> installer,
                               std::shared_ptr<http::Session> session)
    : installer_(std::move(installer)), session_(std::move(session)) {}

std::shared_ptr<InstallerSteps> InstallerSteps::makeDefault() { return makeDefault(Options()); }

std::shared_ptr<InstallerSteps> InstallerSteps::makeDefault(Options options) {
  const auto workFolder = WorkFolder::forCurrentUser();
  const auto& session = http::Session::defaultSession();
  return std::make_shared<InstallerSteps>(
      std::make_shared<InstallerService>(
          workFolder, std::make_shared<NetworkService>(session),
          std::make_shared<FileDownloadService>(workFolder, session, &RetryHandler::make,
                                                std::move(options.downloadProgress)),
          InstallerService::kUnzipTool, options.unpackerOutput),
      session);
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

void InstallerSteps::awaitSentEvents() {
  if (!session_) return;
  // The monitors' queue only hands events on, so waiting on it never waits for the main queue.
  std::promise<void> handedOn;
  session_->eventMonitor()->queue()->async([&] { handedOn.set_value(); });
  handedOn.get_future().wait();
}

}  // namespace tolvane
