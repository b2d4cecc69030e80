#include "App/Desktop/AlertDialog.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

namespace tolvane {
namespace {

constexpr int kMessageWrapWidth = 360;

}  // namespace

// A plain wxMessageDialog would do, but GTK lays out its buttons in the platform's own
// order (cancel first), and the order of these three is part of what the user is told.
AlertDialog::AlertDialog(wxWindow* parent, const Alert& alert)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(alert.title), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU, "Alert") {
  auto* text = new wxBoxSizer(wxVERTICAL);
  auto* title = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(alert.title));
  title->SetFont(title->GetFont().Bold());
  text->Add(title, 0, wxBOTTOM, 8);
  auto* message = new wxStaticText(this, wxID_ANY, wxString::FromUTF8(alert.message));
  message->Wrap(kMessageWrapWidth);
  text->Add(message, 0);

  auto* body = new wxBoxSizer(wxHORIZONTAL);
  body->Add(new wxStaticBitmap(this, wxID_ANY,
                               wxArtProvider::GetBitmap(wxART_WARNING, wxART_MESSAGE_BOX)),
            0, wxRIGHT, 16);
  body->Add(text, 1, wxEXPAND);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->AddStretchSpacer();
  wxButton* first = nullptr;
  for (const Alert::Button& choice : alert.buttons) {
    auto* button = new wxButton(this, wxID_ANY, wxString::FromUTF8(choice.title));
    const int code = choice.responseCode;
    button->Bind(wxEVT_BUTTON, [this, code](wxCommandEvent&) { EndModal(code); });
    buttons->Add(button, 0, wxLEFT, first ? 8 : 0);
    if (!first) first = button;
  }

  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(body, 1, wxEXPAND | wxALL, 20);
  all->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 20);
  SetSizerAndFit(all);

  if (first) {
    first->SetDefault();
    first->SetFocus();
  }
  // Neither counts as a button press: the alert goes away and nothing else happens.
  SetEscapeId(wxID_NONE);
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) {
      EndModal(wxID_CANCEL);
      return;
    }
    event.Skip();
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { EndModal(wxID_CANCEL); });
  CentreOnParent();
}

}  // namespace tolvane
