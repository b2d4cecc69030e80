#pragma once

#include <optional>
#include <string>

namespace tolvane::platform {

// The program's few outside addresses. Built-in defaults come from the build
// (TOLVANE_UPDATE_ORIGIN / TOLVANE_SUPPORT_ORIGIN); the environment variables of the same
// names override them at run time, e.g. to point the program at a local test server.
// Read on every call; stateless.
class Configuration {
 public:
  static constexpr const char* kUpdateOriginVariable = "TOLVANE_UPDATE_ORIGIN";
  static constexpr const char* kSupportOriginVariable = "TOLVANE_SUPPORT_ORIGIN";
  static constexpr const char* kCAFileVariable = "TOLVANE_CA_FILE";

  // The update server origin, "https://host[:port]", without a trailing "/".
  static std::string updateOrigin();
  // The support forum origin, without a trailing "/".
  static std::string supportOrigin();
  // A PEM file of extra trusted certificate authorities, when TOLVANE_CA_FILE is set.
  static std::optional<std::string> caFile();
};

}  // namespace tolvane::platform
