#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// One file entry of the update manifest: where the launcher jar lies on the update server
// and an opaque version marker. Also the shape of the entry remembered between runs.
// Neither hash nor size is ever checked against a file; they are only compared.
struct FileModel {
  std::string path;  // relative to the update server origin
  std::string hash;
  std::int64_t size = 0;

  // Strict decoding: "path", "hash" (strings) and "size" (an integral number that fits in
  // 64 bits) are required, null or mistyped values are errors, other keys are ignored.
  // Throws platform::DecodingError.
  static FileModel fromJSON(const nlohmann::json& json);
  static FileModel decode(std::string_view jsonText);

  // Compact JSON with "path", "hash", "size" in that order; nothing when a string is not
  // valid UTF-8 and so cannot be written as JSON.
  [[nodiscard]] std::optional<std::string> encode() const;
  [[nodiscard]] nlohmann::ordered_json toJSON() const;

  // Strings are compared by canonical Unicode equivalence (a precomposed "é" equals "e"
  // followed by a combining accent), the size by value.
  friend bool operator==(const FileModel& lhs, const FileModel& rhs);
};

}  // namespace tolvane
