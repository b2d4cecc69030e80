#include "HTTP/Core/URLConvertible.h"

namespace tolvane::http {

Result<platform::URL> URLConvertible::asURL() const {
  std::optional<platform::URL> url;
  if (const auto* text = std::get_if<std::string>(&value_)) {
    url = platform::URL::parse(*text);
  } else if (const auto* direct = std::get_if<platform::URL>(&value_)) {
    url = *direct;
  } else {
    url = std::get<platform::URLComponents>(value_).url();
  }
  if (!url) return HTTPError::invalidURL(*this);
  return *std::move(url);
}

std::string URLConvertible::description() const {
  if (const auto* text = std::get_if<std::string>(&value_)) return *text;
  if (const auto* url = std::get_if<platform::URL>(&value_)) return url->absoluteString();
  return std::get<platform::URLComponents>(value_).string();
}

}  // namespace tolvane::http
