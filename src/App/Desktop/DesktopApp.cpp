#include "App/Desktop/DesktopApp.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <utility>

#include <wx/dialog.h>
#include <wx/fileconf.h>
#include <wx/image.h>
#include <wx/utils.h>

#include "App/Desktop/MainWindow.h"
#include "Platform/DispatchQueue.h"
#include "Platform/FileManager.h"

namespace tolvane {
namespace {

// The same base folder the user defaults use, so all of the program's settings sit together.
std::filesystem::path configFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::filesystem::path base;
  if (xdg != nullptr && std::filesystem::path(xdg).is_absolute()) {
    base = xdg;
  } else {
    base = platform::FileManager::defaultManager().homeDirectoryForCurrentUser() / ".config";
  }
  return base / DesktopApp::kConfigFolder;
}

constexpr int kSignalPollMilliseconds = 100;
volatile std::sig_atomic_t gTerminateRequested = 0;

}  // namespace

std::optional<int> DesktopApp::start(char* programPath, std::shared_ptr<InstallationSteps> steps) {
  // wx owns its application object and deletes it in wxEntryCleanup (or when start-up fails).
  wxApp::SetInstance(new DesktopApp(std::move(steps)));
  // Our own options are not GTK's business.
  int argc = 1;
  char* argv[] = {programPath, nullptr};
  if (!wxEntryStart(argc, argv)) return std::nullopt;

  int status = 0;
  if (wxTheApp->CallOnInit()) {
    status = wxTheApp->OnRun();
    wxTheApp->OnExit();
  } else {
    status = static_cast<DesktopApp*>(wxTheApp)->initExitStatus_;
  }
  wxEntryCleanup();
  return status;
}

DesktopApp::DesktopApp(std::shared_ptr<InstallationSteps> steps) : steps_(std::move(steps)) {}

bool DesktopApp::OnInit() {
  SetAppName(kConfigFolder);
  instanceChecker_ = std::make_unique<wxSingleInstanceChecker>();
  if (instanceChecker_->Create(wxString::Format("tolvane-installer-%s.lock", wxGetUserId())) &&
      instanceChecker_->IsAnotherRunning()) {
    std::cerr << "tolvane-installer: already running; leaving it to the window that is open." << std::endl;
    initExitStatus_ = 0;
    return false;
  }

  wxInitAllImageHandlers();

  const std::filesystem::path folder = configFolder();
  std::error_code ignored;
  // When the folder cannot be made, wxFileConfig fails to write and the frame is simply
  // not remembered; that is no reason to refuse to install.
  std::filesystem::create_directories(folder, ignored);
  wxConfigBase::Set(new wxFileConfig(kConfigFolder, wxEmptyString, wxString::FromUTF8((folder / kConfigFile).string()),
                                     wxEmptyString, wxCONFIG_USE_LOCAL_FILE));

  platform::MainRunLoop::setPoster([](std::function<void()> work) {
    if (wxTheApp != nullptr) wxTheApp->CallAfter(std::move(work));
  });
  watchTerminateSignals();

  auto* window = new MainWindow(steps_);
  SetTopWindow(window);
  window->Show();
  return true;
}

int DesktopApp::OnExit() {
  signalTimer_.Stop();
  platform::MainRunLoop::setPoster(nullptr);
  return wxApp::OnExit();
}

// A logout or `kill` closes the window the ordinary way, so its frame is still saved.
// The handler only raises a flag; a timer on the GUI loop acts on it. (wx's own
// SetSignalHandler never reached its handler under GTK here.)
void DesktopApp::watchTerminateSignals() {
  struct sigaction action {};
  action.sa_handler = [](int) { gTerminateRequested = 1; };
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signalTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    if (gTerminateRequested == 0) return;
    // An open alert is closed first (as "no button"); its window goes on the next tick,
    // once the alert's modal loop has returned and nothing refers to it any more.
    for (wxWindow* window : wxTopLevelWindows) {
      if (auto* dialog = dynamic_cast<wxDialog*>(window); dialog != nullptr && dialog->IsModal()) {
        dialog->EndModal(wxID_CANCEL);
        return;
      }
    }
    gTerminateRequested = 0;
    if (auto* window = dynamic_cast<MainWindow*>(GetTopWindow())) {
      window->terminate();
    } else {
      ExitMainLoop();
    }
  });
  signalTimer_.Start(kSignalPollMilliseconds);
}

}  // namespace tolvane
