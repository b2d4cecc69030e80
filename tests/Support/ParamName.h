#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace tolvane::test {

// A test name made from any text, for parameterised suites whose cases are plain strings:
// letters and digits kept, every run of other bytes one "_" ("blank" when none is left), and
// the case index at the end so that names stay unique.
inline std::string paramName(std::string_view text, std::size_t index) {
  std::string name;
  for (const unsigned char c : text) {
    if (std::isalnum(c)) {
      name += static_cast<char>(c);
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  if (name.empty()) name = "blank_";
  return name + (name.back() == '_' ? "" : "_") + std::to_string(index);
}

}  // namespace tolvane::test
