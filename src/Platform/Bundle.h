#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace tolvane::platform {

// The program's read-only resources: the runtime archive "java.zip", the logo and
// "Info.json" (name, identifier, version, build). The resource folder is TOLVANE_RESOURCES
// when that is set, otherwise "../share/tolvane-installer" next to the executable's folder,
// which holds in the build tree and in an installed tree alike. Both are looked up on
// every call. Stateless; safe from any thread.
class Bundle {
 public:
  static constexpr const char* kResourcesVariable = "TOLVANE_RESOURCES";
  static constexpr const char* kResourceSubfolder = "../share/tolvane-installer";
  static constexpr const char* kInfoFileName = "Info.json";

  // The main bundle: the program's own resources.
  static Bundle& main();

  [[nodiscard]] std::filesystem::path resourceURL() const;

  // The resource "<name>.<extension>" (just "<name>" for an empty extension), only when
  // something exists there.
  [[nodiscard]] std::optional<std::filesystem::path> url(const std::string& forResource,
                                                         const std::string& withExtension) const;

  // The parsed "Info.json"; nothing when it is missing, unreadable or not a JSON object.
  [[nodiscard]] std::optional<nlohmann::json> infoDictionary() const;
};

}  // namespace tolvane::platform
