#pragma once

#include <string>

namespace tolvane {

// The program's name and version as its bundle information ("Info.json") gives them, with
// built-in fallbacks when the file or a key is missing. Read on every call.
class ProgramInfo {
 public:
  static constexpr const char* kDefaultName = "Tolvane";
  static constexpr const char* kUnknownVersion = "unknown";

  [[nodiscard]] static std::string name();
  [[nodiscard]] static std::string version();
};

}  // namespace tolvane
