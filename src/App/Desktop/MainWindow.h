#pragma once

#include <memory>

#include <wx/frame.h>

#include "App/InstallationSteps.h"

namespace tolvane {

class ContentView;

// The program's single window: centred, frame remembered under "MainWindow" (wx's
// persistence, in whatever wxConfigBase::Get() is when the window is made), movable,
// minimisable and closable but not resizable, its client area exactly the content view's
// fitting size. Showing it starts the run. Closing it while a run is going on only hides
// it: the run goes on and still ends the program or brings up its alert. Only the first
// showing starts a run.
// Main thread only.
class MainWindow final : public wxFrame {
 public:
  static constexpr const char* kFrameName = "MainWindow";

  MainWindow(std::shared_ptr<InstallationSteps> steps);

  // Ends the program the ordinary way: the window goes (its frame is saved) and with it
  // the GUI loop.
  void terminate();
  // Shows the window again (hidden or minimised) above the others. Never starts a run.
  void bringToFront();

 private:
  void configureMainWindow();

  ContentView* content_ = nullptr;
  bool shownBefore_ = false;
};

}  // namespace tolvane
