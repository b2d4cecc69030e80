#include "App/DesktopModule.h"

#include <dlfcn.h>

#include "Platform/OperatingSystem.h"

namespace tolvane {

namespace fs = std::filesystem;

const char* const DesktopModule::kRelativePath = "../" TOLVANE_MODULE_SUBDIR "/tolvane-desktop.so";

fs::path DesktopModule::path() {
  const fs::path executable = platform::os::executablePath();
  std::error_code error;
  const fs::path folder = executable.empty() ? fs::current_path(error) : executable.parent_path();
  return (folder / kRelativePath).lexically_normal();
}

std::optional<int> DesktopModule::start(char* programPath, std::shared_ptr<InstallationSteps> steps,
                                        std::string& problem) {
  // Never closed: wx and GTK keep callbacks and atexit handlers in it until the process ends.
  void* module = ::dlopen(path().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = ::dlerror();
    problem = reason != nullptr ? reason : path().string() + ": cannot be loaded";
    return std::nullopt;
  }
  auto entry = reinterpret_cast<EntryPoint>(::dlsym(module, kEntryPoint));
  if (entry == nullptr) {
    problem = path().string() + ": no " + kEntryPoint;
    return std::nullopt;
  }
  int status = 0;
  if (!entry(programPath, &steps, &status)) return std::nullopt;
  return status;
}

}  // namespace tolvane
