#pragma once

#include <string>
#include <vector>

namespace tolvane {

// What a front end shows when a run has failed: a warning with a title, a message and
// buttons in display order, the first being the default. The pressed button's response
// code goes back to InstallationRun::respond(); closing the alert any other way answers
// with a code that matches no button.
struct Alert {
  struct Button {
    std::string title;
    int responseCode = 0;
    friend bool operator==(const Button&, const Button&) = default;
  };

  std::string title;
  std::string message;
  std::vector<Button> buttons;
};

}  // namespace tolvane
