#include "App/Desktop/MainWindow.h"

#include <utility>

#include <wx/icon.h>
#include <wx/persist/toplevel.h>
#include <wx/sizer.h>
#include <wx/weakref.h>

#include "App/Desktop/ContentView.h"
#include "App/ProgramInfo.h"

namespace tolvane {
namespace {

// Movable, minimisable and closable; no resize border and no maximise button.
constexpr long kStyle = wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX);

}  // namespace

MainWindow::MainWindow(std::shared_ptr<InstallationSteps> steps)
    : wxFrame(nullptr, wxID_ANY, wxString::FromUTF8(ProgramInfo::name()), wxDefaultPosition,
              wxDefaultSize, kStyle, kFrameName) {
  wxWeakRef<MainWindow> self(this);
  content_ = new ContentView(this, std::move(steps), [self] {
    if (self) self->terminate();
  });
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(content_, 1, wxEXPAND);
  SetSizer(sizer);
  // Task bars and window switchers show the logo rather than the toolkit's generic icon.
  if (const wxImage logo = ContentView::logo(); logo.IsOk()) {
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(logo));
    SetIcon(icon);
  }
  configureMainWindow();

  Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
    if (event.IsShown() && !shownBefore_) {
      shownBefore_ = true;
      content_->startRun();
    }
    event.Skip();
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
    if (content_->isRunning() && event.CanVeto()) {
      Hide();
      event.Veto();
      return;
    }
    Destroy();
  });
}

void MainWindow::configureMainWindow() {
  const wxSize fitting = content_->GetBestSize();
  SetClientSize(fitting);
  Centre();
  // Puts back the position (and state) the window had last time; the size is ours.
  wxPersistentRegisterAndRestore(this, kFrameName);
  SetClientSize(fitting);
  // GTK takes equal minimum and maximum sizes as "not resizable" for the window manager.
  SetMinClientSize(fitting);
  SetMaxClientSize(fitting);
}

void MainWindow::terminate() { Destroy(); }

void MainWindow::bringToFront() {
  if (IsIconized()) Iconize(false);
  Show();
  Raise();
}

}  // namespace tolvane
