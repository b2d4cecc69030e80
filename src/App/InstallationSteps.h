#pragma once

namespace tolvane {

// The pipeline operations a run calls, in the order a run calls them. InstallerSteps is
// the real one; tests hand in doubles. All of them block and are called from the run's
// background thread (isInstalled() also from the main thread, to pick the status line).
// They report failure by throwing: a ResourceError normally, anything else when
// something unforeseen broke.
class InstallationSteps {
 public:
  virtual ~InstallationSteps() = default;

  [[nodiscard]] virtual bool isInstalled() const = 0;
  virtual void createWorkFolder() = 0;
  virtual void installJava() = 0;
  // True when the launcher jar has to be downloaded before it is started.
  virtual bool checkForUpdate() = 0;
  virtual void downloadLauncher() = 0;
  virtual void runLauncher() = 0;
};

}  // namespace tolvane
