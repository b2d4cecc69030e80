#pragma once

#include <memory>

#include <wx/image.h>
#include <wx/panel.h>

#include "App/InstallationRun.h"

class wxStaticText;

namespace tolvane {

// The window's only content: the logo stretched to 128 x 128 above the status line, with
// a 32 px margin around both, and nothing to click. It owns the installation run: showing
// the view starts it; the outcome ends the program or brings up the error alert. A run the
// alert's retry starts brings a closed or minimised window back.
//
// Main thread only. The run's callbacks come through the main queue (posted to wx) and
// hold the view weakly: a view that is already gone gets no alert.
class ContentView final : public wxPanel {
 public:
  static constexpr int kLogoSide = 128;
  static constexpr int kPadding = 32;
  // The stack's gap between the logo and the status line.
  static constexpr int kSpacing = 8;
  // How much larger than the normal GUI font the status line is.
  static constexpr double kStatusFontScale = 1.3;
  static constexpr const char* kLogoResource = "Launcher_logo";

  // The logo at its own size; not ok when the resource is missing or unreadable.
  [[nodiscard]] static wxImage logo();

  // `terminate` ends the program; the view calls it after a successful run and from the
  // alert's support and close buttons.
  ContentView(wxWindow* parent, std::shared_ptr<InstallationSteps> steps,
              std::function<void()> terminate);

  // Starts a run unless one is going on.
  void startRun();
  [[nodiscard]] bool isRunning() const { return run_->isRunning(); }

 private:
  void runStarting();
  void presentAlert(const Alert& alert);

  std::shared_ptr<InstallationRun> run_;
  wxStaticText* status_ = nullptr;
};

}  // namespace tolvane
