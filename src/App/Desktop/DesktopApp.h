#pragma once

#include <memory>
#include <optional>

#include <wx/app.h>
#include <wx/snglinst.h>
#include <wx/timer.h>

#include "App/InstallationSteps.h"

namespace tolvane {

// The GUI front end: one main window per user session, its frame remembered in
// "$XDG_CONFIG_HOME/tolvane-installer/window.ini", the main queue posted to wx's event
// loop. A second instance of the same user leaves the first alone and exits with 0.
// Lives on the main thread, from start() until start() returns.
class DesktopApp final : public wxApp {
 public:
  static constexpr const char* kConfigFolder = "tolvane-installer";
  static constexpr const char* kConfigFile = "window.ini";

  // Runs the GUI to its end and answers the exit status; nothing when no display could be
  // opened, so the caller can run without one.
  [[nodiscard]] static std::optional<int> start(char* programPath, std::shared_ptr<InstallationSteps> steps);

  explicit DesktopApp(std::shared_ptr<InstallationSteps> steps);

  bool OnInit() override;
  int OnExit() override;

 private:
  void watchTerminateSignals();

  std::shared_ptr<InstallationSteps> steps_;
  wxTimer signalTimer_;
  std::unique_ptr<wxSingleInstanceChecker> instanceChecker_;
  int initExitStatus_ = 1;
};

}  // namespace tolvane
