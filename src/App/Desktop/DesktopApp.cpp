#include "App/Desktop/DesktopApp.h"

#include <unistd.h>

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
#include "Platform/OperatingSystem.h"

namespace tolvane {
namespace {

// The same base folder the user defaults use, so all of the program's settings sit together.
std::filesystem::path configFolder() {
  return platform::os::settingsFolder() / DesktopApp::kConfigFolder;
}

// Where the single-instance lock and the socket a second launch talks to live, side by side
// so that whoever holds the one owns the other: the session's runtime folder when it is a
// proper one (absolute, ours, closed to everyone else), else the config folder.
std::filesystem::path instanceFolder(const std::filesystem::path& configFolder) {
  return platform::os::runtimeFolder().value_or(configFolder);
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
  // wxGTK gives the windows the display name as their class.
  SetAppDisplayName(kWindowClass);
  const std::filesystem::path folder = configFolder();
  std::error_code ignored;
  // When the folder cannot be made, wxFileConfig fails to write and the frame is simply
  // not remembered; that is no reason to refuse to install.
  std::filesystem::create_directories(folder, ignored);

  const std::filesystem::path instances = instanceFolder(folder);
  const std::filesystem::path socket = instances / InstanceChannel::kSocketName;
  instanceChecker_ = std::make_unique<wxSingleInstanceChecker>();
  if (instanceChecker_->Create(wxString::Format("tolvane-installer-%s.lock", wxGetUserId()),
                               wxString::FromUTF8(instances.string())) &&
      instanceChecker_->IsAnotherRunning()) {
    if (InstanceChannel::askToComeToFront(socket)) {
      std::cerr << "tolvane-installer: already running; its window has been brought to the front."
                << std::endl;
    } else {
      std::cerr << "tolvane-installer: already running; leaving it to the window that is open."
                << std::endl;
    }
    initExitStatus_ = 0;
    return false;
  }
  channel_ = InstanceChannel::listen(socket, [this] { bringToFront(); });

  wxInitAllImageHandlers();
  wxConfigBase::Set(new wxFileConfig(kConfigFolder, wxEmptyString,
                                     wxString::FromUTF8((folder / kConfigFile).string()),
                                     wxEmptyString, wxCONFIG_USE_LOCAL_FILE));

  platform::MainRunLoop::setPoster([](std::function<void()> work) {
    if (wxTheApp != nullptr) wxTheApp->CallAfter(work);
  });
  watchTerminateSignals();

  auto* window = new MainWindow(steps_);
  SetTopWindow(window);
  window->Show();
  return true;
}

int DesktopApp::OnExit() {
  channel_.reset();
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
    if (wxDialog* alert = openAlert()) {
      alert->EndModal(wxID_CANCEL);
      return;
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

wxDialog* DesktopApp::openAlert() {
  for (wxWindow* window : wxTopLevelWindows) {
    if (auto* dialog = dynamic_cast<wxDialog*>(window); dialog != nullptr && dialog->IsModal())
      return dialog;
  }
  return nullptr;
}

void DesktopApp::bringToFront() {
  // The alert is what the user has to answer; the window behind it stays as it is.
  if (wxDialog* alert = openAlert()) {
    alert->Raise();
  } else if (auto* window = dynamic_cast<MainWindow*>(GetTopWindow())) {
    window->bringToFront();
  }
}

}  // namespace tolvane
