#pragma once

#include <string>
#include <string_view>

namespace tolvane::http {

// A content type reduced to (type, subtype) for validation. Parsing never fails: parameters
// after ";" are dropped, the rest is split at "/" into its first and last piece, and a text
// without "/" gives both halves equal to the whole text. Comparison is case-sensitive, the
// way the validators compare. Plain value.
struct MediaType {
  std::string type;
  std::string subtype;

  [[nodiscard]] static MediaType parse(std::string_view text);

  // "*/*".
  [[nodiscard]] bool isWildcard() const { return type == "*" && subtype == "*"; }

  // Whether this type, as an acceptable type, admits `response`: equal halves, or "*" in
  // place of either half.
  [[nodiscard]] bool matches(const MediaType& response) const;

  friend bool operator==(const MediaType&, const MediaType&) = default;
};

}  // namespace tolvane::http
