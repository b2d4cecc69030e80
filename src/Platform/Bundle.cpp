#include "Platform/Bundle.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "Platform/FileManager.h"
#include "Platform/OperatingSystem.h"

namespace tolvane::platform {

namespace fs = std::filesystem;

Bundle& Bundle::main() {
  static Bundle bundle;
  return bundle;
}

fs::path Bundle::resourceURL() const {
  if (const char* overridden = std::getenv(kResourcesVariable);
      overridden != nullptr && *overridden != '\0') {
    return overridden;
  }
  const fs::path executable = os::executablePath();
  if (executable.empty()) {
    // Without a way to find ourselves, fall back to the current folder's idea of the layout.
    return fs::path(kResourceSubfolder).lexically_normal();
  }
  return (executable.parent_path() / kResourceSubfolder).lexically_normal();
}

std::optional<fs::path> Bundle::url(const std::string& forResource,
                                    const std::string& withExtension) const {
  if (forResource.empty()) return std::nullopt;
  const std::string name = withExtension.empty() ? forResource : forResource + "." + withExtension;
  const fs::path candidate = resourceURL() / name;
  if (!FileManager::defaultManager().fileExists(candidate)) return std::nullopt;
  return candidate;
}

std::optional<nlohmann::json> Bundle::infoDictionary() const {
  std::ifstream stream(resourceURL() / kInfoFileName, std::ios::binary);
  if (!stream) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(stream)),
                         std::istreambuf_iterator<char>());
  nlohmann::json info = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!info.is_object()) return std::nullopt;
  return info;
}

}  // namespace tolvane::platform
