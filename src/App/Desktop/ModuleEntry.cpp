// The entry point the program looks up after loading this module.
#include "App/Desktop/DesktopApp.h"
#include "App/DesktopModule.h"

extern "C" __attribute__((visibility("default"))) bool tolvane_desktop_start(
    char* programPath, const std::shared_ptr<tolvane::InstallationSteps>* steps, int* status) {
  static_assert(
      std::is_same_v<decltype(&tolvane_desktop_start), tolvane::DesktopModule::EntryPoint>);
  const auto windowed = tolvane::DesktopApp::start(programPath, *steps);
  if (!windowed) return false;
  *status = *windowed;
  return true;
}
