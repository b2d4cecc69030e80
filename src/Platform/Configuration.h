#pragma once

#include <optional>
#include <string>

namespace tolvane::platform {

// The program's few outside addresses and the keys its releases are signed with. Built-in
// defaults come from the build (TOLVANE_UPDATE_ORIGIN, TOLVANE_SUPPORT_ORIGIN,
// TOLVANE_RELEASE_PUBLIC_KEYS); the environment variables of the same names override them
// at run time, e.g. to point the program at a local test server. A variable set to the
// empty text counts as not set. Read on every call; stateless.
class Configuration {
 public:
  static constexpr const char* kUpdateOriginVariable = "TOLVANE_UPDATE_ORIGIN";
  static constexpr const char* kSupportOriginVariable = "TOLVANE_SUPPORT_ORIGIN";
  static constexpr const char* kCAFileVariable = "TOLVANE_CA_FILE";
  static constexpr const char* kReleasePublicKeysVariable = "TOLVANE_RELEASE_PUBLIC_KEYS";

  // The update server origin, "https://host[:port]", without a trailing "/".
  static std::string updateOrigin();
  // The support forum origin, without a trailing "/".
  static std::string supportOrigin();
  // A PEM file of extra trusted certificate authorities, when TOLVANE_CA_FILE is set.
  static std::optional<std::string> caFile();
  // The minisign public keys a release must be signed with, as configured: key texts
  // separated by ";" or white space, unchecked. Empty when no key is configured.
  static std::string releasePublicKeys();
};

}  // namespace tolvane::platform
