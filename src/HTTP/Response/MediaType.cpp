#include "HTTP/Response/MediaType.h"

#include "Platform/Text.h"

namespace tolvane::http {

MediaType MediaType::parse(std::string_view text) {
  text = platform::trimmed(text, platform::kWhiteSpace);
  if (const auto semicolon = text.find(';'); semicolon != std::string_view::npos) {
    text = text.substr(0, semicolon);
  }
  const auto first = text.find('/');
  if (first == std::string_view::npos) return {std::string(text), std::string(text)};
  const auto last = text.rfind('/');
  return {std::string(text.substr(0, first)), std::string(text.substr(last + 1))};
}

bool MediaType::matches(const MediaType& response) const {
  if (type == response.type && (subtype == response.subtype || subtype == "*")) return true;
  return type == "*" && (subtype == response.subtype || subtype == "*");
}

}  // namespace tolvane::http
