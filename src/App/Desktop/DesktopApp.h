#pragma once

#include <memory>
#include <optional>

#include <wx/app.h>
#include <wx/snglinst.h>
#include <wx/timer.h>

#include "App/Desktop/InstanceChannel.h"
#include "App/InstallationSteps.h"

class wxDialog;

namespace tolvane {

// The GUI front end: one main window per user session, its frame remembered in
// "$XDG_CONFIG_HOME/tolvane-installer/window.ini", the main queue posted to wx's event
// loop. A second instance of the same user brings the first one's window (or its alert) to
// the front and exits with 0.
// Lives on the main thread, from start() until start() returns.
class DesktopApp final : public wxApp {
 public:
  static constexpr const char* kConfigFolder = "tolvane-installer";
  static constexpr const char* kConfigFile = "window.ini";
  // The class (WM_CLASS) of the program's windows, which the desktop entry's
  // StartupWMClass names so that docks match the window to the entry.
  static constexpr const char* kWindowClass = "tolvane-installer";

  // Runs the GUI to its end and answers the exit status; nothing when no display could be
  // opened, so the caller can run without one.
  [[nodiscard]] static std::optional<int> start(char* programPath,
                                                std::shared_ptr<InstallationSteps> steps);

  explicit DesktopApp(std::shared_ptr<InstallationSteps> steps);

  bool OnInit() override;
  int OnExit() override;

 private:
  void watchTerminateSignals();
  // Shows the window again and raises it, or raises the alert when one is open.
  void bringToFront();
  // The alert while it is open, else nothing.
  [[nodiscard]] static wxDialog* openAlert();

  std::shared_ptr<InstallationSteps> steps_;
  wxTimer signalTimer_;
  std::unique_ptr<wxSingleInstanceChecker> instanceChecker_;
  std::unique_ptr<InstanceChannel> channel_;
  int initExitStatus_ = 1;
};

}  // namespace tolvane
