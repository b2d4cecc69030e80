#pragma once

#include <memory>

#include "App/InstallationSteps.h"
#include "HTTP/Core/Session.h"
#include "Installer/InstallerService.h"
#include "Platform/Process.h"
#include "Services/FileDownloadService.h"

namespace tolvane {

// The run's steps as the program performs them: straight calls into InstallerService.
// Holds the service (and the session its requests go through) for as long as any run needs
// it; adds no state of its own.
class InstallerSteps final : public InstallationSteps {
 public:
  // On standard error while another instance holds the work folder (standard output is
  // for the status line).
  static constexpr const char* kWaitingMessage =
      "tolvane-installer: another installer is working in the work folder; waiting for it to "
      "finish.";

  // What a front end changes in the program's services.
  struct Options {
    // Where the launcher download reports its progress (on the main queue); none by default.
    FileDownloadService::ProgressHandler downloadProgress;
    platform::Process::OutputRouting unpackerOutput = platform::Process::OutputRouting::inherited;
  };

  // `session` is the one the services send their requests through, when the run's end must
  // wait for its events (awaitSentEvents); without it the end waits for nothing.
  explicit InstallerSteps(std::shared_ptr<InstallerService> installer,
                          std::shared_ptr<http::Session> session = nullptr);

  // The service the program runs with: the real network and download services on the HTTP
  // layer's default session, in the current user's work folder.
  [[nodiscard]] static std::shared_ptr<InstallerSteps> makeDefault();
  [[nodiscard]] static std::shared_ptr<InstallerSteps> makeDefault(Options options);

  [[nodiscard]] bool isInstalled() const override;
  void createWorkFolder() override;
  [[nodiscard]] std::optional<platform::FileLock> lockWorkFolder() override;
  void installJava() override;
  bool checkForUpdate() override;
  void downloadLauncher() override;
  void runLauncher() override;
  void awaitSentEvents() override;

 private:
  std::shared_ptr<InstallerService> installer_;
  std::shared_ptr<http::Session> session_;
};

}  // namespace tolvane
