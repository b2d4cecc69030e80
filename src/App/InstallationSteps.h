#pragma once

#include <optional>

#include "Platform/FileLock.h"

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
  // Keeps other instances of the program out of the work folder until the result is
  // dropped, waiting while another instance holds it. Called right after createWorkFolder().
  // Nothing when no lock can be had: the run then goes on as it would alone.
  [[nodiscard]] virtual std::optional<platform::FileLock> lockWorkFolder() { return std::nullopt; }
  virtual void installJava() = 0;
  // True when the launcher jar has to be downloaded before it is started.
  virtual bool checkForUpdate() = 0;
  virtual void downloadLauncher() = 0;
  virtual void runLauncher() = 0;
  // Returns once every event the steps' requests sent is on its monitor's queue. Monitor
  // events travel through a queue of their own, so without this the run's end could reach
  // the main queue before the trace of its last request does.
  virtual void awaitSentEvents() {}
};

}  // namespace tolvane
