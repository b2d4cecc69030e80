#pragma once

#include <memory>

#include "App/InstallationSteps.h"
#include "Installer/InstallerService.h"

namespace tolvane {

// The run's steps as the program performs them: straight calls into InstallerService.
// Holds the service for as long as any run needs it; adds no state of its own.
class InstallerSteps final : public InstallationSteps {
 public:
  // In the work folder; hidden, and never removed (removing it while another instance
  // waits on it would let a third one lock a new file of the same name).
  static constexpr const char* kLockFileName = ".installer.lock";
  // On standard output while another instance holds the work folder.
  static constexpr const char* kWaitingMessage =
      "tolvane-installer: another installer is working in the work folder; waiting for it to "
      "finish.";

  explicit InstallerSteps(std::shared_ptr<InstallerService> installer);

  // The service the program runs with: the real network and download services.
  [[nodiscard]] static std::shared_ptr<InstallerSteps> makeDefault();

  [[nodiscard]] bool isInstalled() const override;
  void createWorkFolder() override;
  [[nodiscard]] std::optional<platform::FileLock> lockWorkFolder() override;
  void installJava() override;
  bool checkForUpdate() override;
  void downloadLauncher() override;
  void runLauncher() override;

 private:
  std::shared_ptr<InstallerService> installer_;
};

}  // namespace tolvane
