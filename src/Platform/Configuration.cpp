#include "Platform/Configuration.h"

#include <cstdlib>

#ifndef TOLVANE_DEFAULT_UPDATE_ORIGIN
#error "TOLVANE_DEFAULT_UPDATE_ORIGIN must be defined by the build"
#endif
#ifndef TOLVANE_DEFAULT_SUPPORT_ORIGIN
#error "TOLVANE_DEFAULT_SUPPORT_ORIGIN must be defined by the build"
#endif
#ifndef TOLVANE_DEFAULT_RELEASE_PUBLIC_KEYS
#error "TOLVANE_DEFAULT_RELEASE_PUBLIC_KEYS must be defined by the build"
#endif

namespace tolvane::platform {
namespace {

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

// Paths are appended as "/" + path, so a trailing "/" would double it.
std::string origin(const char* variable, const char* fallback) {
  std::string value = environment(variable).value_or(fallback);
  while (!value.empty() && value.back() == '/') value.pop_back();
  return value;
}

}  // namespace

std::string Configuration::updateOrigin() {
  return origin(kUpdateOriginVariable, TOLVANE_DEFAULT_UPDATE_ORIGIN);
}

std::string Configuration::supportOrigin() {
  return origin(kSupportOriginVariable, TOLVANE_DEFAULT_SUPPORT_ORIGIN);
}

std::optional<std::string> Configuration::caFile() { return environment(kCAFileVariable); }

std::string Configuration::releasePublicKeys() {
  return environment(kReleasePublicKeysVariable).value_or(TOLVANE_DEFAULT_RELEASE_PUBLIC_KEYS);
}

}  // namespace tolvane::platform
