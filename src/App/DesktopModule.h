#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "App/InstallationSteps.h"

namespace tolvane {

// The window front end, kept in a module of its own and loaded only when there is a display
// to show it on. wxWidgets and GTK bring over a hundred shared libraries, and loading them
// is most of a headless start's time. The module binds to the program's own copy of
// everything else (the program exports its symbols), so there is one main queue, one
// default session and one settings store.
class DesktopModule {
 public:
  // Found here relative to the program, in the build tree and in an installed tree alike
  // ("../lib/<architecture>/tolvane-installer/tolvane-desktop.so").
  static const char* const kRelativePath;
  // The module's entry point (extern "C"): runs the window to its end, sets the exit status
  // and answers true; false when no display could be opened.
  static constexpr const char* kEntryPoint = "tolvane_desktop_start";
  using EntryPoint = bool (*)(char* programPath, const std::shared_ptr<InstallationSteps>* steps,
                              int* status);

  [[nodiscard]] static std::filesystem::path path();

  // Runs the window to its end and answers its exit status. Nothing when the module cannot
  // be loaded (`problem` then says why) or no display could be opened.
  [[nodiscard]] static std::optional<int> start(char* programPath,
                                                std::shared_ptr<InstallationSteps> steps,
                                                std::string& problem);
};

}  // namespace tolvane
