#include "HTTP/Response/MediaType.h"

namespace tolvane::http {

namespace {

bool isWhitespaceOrNewline(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isWhitespaceOrNewline(text.front())) text.remove_prefix(1);
  while (!text.empty() && isWhitespaceOrNewline(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

MediaType MediaType::parse(std::string_view text) {
  text = trimmed(text);
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
