#pragma once

#include <memory>

#include "App/InstallationSteps.h"
#include "Installer/InstallerService.h"

namespace tolvane {

// The run's steps as the program performs them: straight calls into InstallerService.
// Holds the service for as long as any run needs it; adds no state of its own.
class InstallerSteps final : public InstallationSteps {
 public:
  explicit InstallerSteps(std::shared_ptr<InstallerService> installer);

  // The service the program runs with: the real network and download services.
  [[nodiscard]] static std::shared_ptr<InstallerSteps> makeDefault();

  [[nodiscard]] bool isInstalled() const override;
  void createWorkFolder() override;
  void installJava() override;
  bool checkForUpdate() override;
  void downloadLauncher() override;
  void runLauncher() override;

 private:
  std::shared_ptr<InstallerService> installer_;
};

}  // namespace tolvane
