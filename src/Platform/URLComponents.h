#pragma once

#include <optional>
#include <string>

#include "Platform/URL.h"

namespace tolvane::platform {

// The parts of a URL, to be composed into one. Texts are taken as already percent-encoded.
struct URLComponents {
  std::string scheme;
  std::string host;
  std::optional<int> port;
  std::string path;
  std::optional<std::string> percentEncodedQuery;
  std::optional<std::string> fragment;

  // The composed text, e.g. "https://host:8443/a?b#c" ("" parts are left out).
  [[nodiscard]] std::string string() const;
  // The composed URL, or none when the parts do not form one (no scheme, no host, ...).
  [[nodiscard]] std::optional<URL> url() const;

  friend bool operator==(const URLComponents&, const URLComponents&) = default;
};

}  // namespace tolvane::platform
