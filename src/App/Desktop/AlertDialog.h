#pragma once

#include <wx/dialog.h>

#include "App/Alert.h"

namespace tolvane {

// The error alert as a modal dialog: warning icon, the alert's title in bold over its
// message, and its buttons left to right in the alert's order, the first being the
// default. ShowModal() answers the pressed button's response code; Escape or closing the
// dialog answers wxID_CANCEL, which matches no button. Main thread only.
class AlertDialog final : public wxDialog {
 public:
  AlertDialog(wxWindow* parent, const Alert& alert);
};

}  // namespace tolvane
