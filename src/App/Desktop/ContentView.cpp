#include "App/Desktop/ContentView.h"

#include <algorithm>
#include <iostream>
#include <utility>

#include <wx/image.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/weakref.h>

#include "App/Desktop/AlertDialog.h"
#include "App/Desktop/MainWindow.h"
#include "Platform/Bundle.h"
#include "Platform/Workspace.h"

namespace tolvane {
namespace {

// The logo squeezed or stretched into the square; its aspect ratio is not kept. Without
// the resource the square stays empty, so the window keeps its size.
wxBitmap loadLogo(int side) {
  wxImage image = ContentView::logo();
  if (!image.IsOk()) {
    image.Create(side, side);
    image.SetAlpha();
    std::fill_n(image.GetAlpha(), side * side, 0);
  }
  image.Rescale(side, side, wxIMAGE_QUALITY_HIGH);
  return wxBitmap(image);
}

}  // namespace

wxImage ContentView::logo() {
  wxImage image;
  if (const auto path = platform::Bundle::main().url(kLogoResource, "png")) {
    image.LoadFile(wxString::FromUTF8(path->string()), wxBITMAP_TYPE_PNG);
  }
  return image;
}

ContentView::ContentView(wxWindow* parent, std::shared_ptr<InstallationSteps> steps,
                         std::function<void()> terminate)
    : wxPanel(parent, wxID_ANY) {
  wxWeakRef<ContentView> self(this);
  run_ = InstallationRun::make(
      std::move(steps),
      InstallationRun::Frontend{
          .terminate = std::move(terminate),
          .presentAlert =
              [self](const Alert& alert) {
                if (self) self->presentAlert(alert);
              },
          .runStarting =
              [self] {
                if (self) self->runStarting();
              },
          // Not wx's browser launch: without xdg-open it shows a box of its own, in English,
          // and waits for it to be answered before the program can quit.
          .openURL =
              [](const std::string& url) {
                if (!platform::Workspace::open(url))
                  std::cerr << "tolvane-installer: no program to open " << url << " was found"
                            << std::endl;
              },
      });

  auto* logo = new wxStaticBitmap(this, wxID_ANY, loadLogo(kLogoSide), wxDefaultPosition,
                                  wxSize(kLogoSide, kLogoSide));
  status_ = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(run_->statusText()));
  status_->SetFont(status_->GetFont().Scaled(static_cast<float>(kStatusFontScale)));

  auto* stack = new wxBoxSizer(wxVERTICAL);
  stack->Add(logo, 0, wxALIGN_CENTER_HORIZONTAL);
  stack->AddSpacer(kSpacing);
  stack->Add(status_, 0, wxALIGN_CENTER_HORIZONTAL);
  auto* padded = new wxBoxSizer(wxVERTICAL);
  padded->Add(stack, 1, wxEXPAND | wxALL, kPadding);
  SetSizerAndFit(padded);
}

void ContentView::startRun() { run_->start(); }

void ContentView::runStarting() {
  // The status follows what is on disk now; a retry may come after a partial install.
  status_->SetLabel(wxString::FromUTF8(run_->statusText()));
  Layout();
  // A retry asked for while the window was closed (hidden) or minimised: the player sees
  // the run they asked for instead of nothing.
  auto* window = dynamic_cast<MainWindow*>(wxGetTopLevelParent(this));
  if (window != nullptr && (!window->IsShown() || window->IsIconized())) window->bringToFront();
}

void ContentView::presentAlert(const Alert& alert) {
  wxWindow* window = wxGetTopLevelParent(this);
  AlertDialog dialog(window, alert);
  int responseCode = dialog.ShowModal();
  // Dismissed without a button while the window is hidden: nothing would be left on screen,
  // yet the program would go on holding the single-instance lock. It quits, as "Закрыть".
  if (responseCode == wxID_CANCEL && !window->IsShown())
    responseCode = InstallationRun::kCloseResponse;
  run_->respond(responseCode);
}

}  // namespace tolvane
