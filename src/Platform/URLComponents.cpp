#include "Platform/URLComponents.h"

namespace tolvane::platform {

std::string URLComponents::string() const {
  std::string text;
  if (!scheme.empty()) text += scheme + ":";
  if (!host.empty()) {
    text += "//" + host;
    if (port) text += ":" + std::to_string(*port);
  }
  text += path;
  if (percentEncodedQuery) text += "?" + *percentEncodedQuery;
  if (fragment) text += "#" + *fragment;
  return text;
}

std::optional<URL> URLComponents::url() const {
  // A path not starting with "/" after a host would merge into the host name.
  if (!host.empty() && !path.empty() && path.front() != '/') return std::nullopt;
  if (port && (*port < 0 || *port > 65535)) return std::nullopt;
  return URL::parse(string());
}

}  // namespace tolvane::platform
