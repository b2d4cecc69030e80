#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvane::tools {

// The part of a file a GET asks for through its Range header, resolved against the
// file's size. Only a single "bytes=" range (the unit in any case) is honoured; anything else (no
// header, a malformed one, several ranges, another unit) asks for the whole file, which a server
// may always answer with.
class ByteRange {
 public:
  enum class Kind { wholeFile, part, unsatisfiable };

  [[nodiscard]] static ByteRange resolve(std::optional<std::string_view> header,
                                         std::uint64_t fileSize);

  [[nodiscard]] Kind kind() const { return kind_; }
  // Inclusive bounds, meaningful for `part` only.
  [[nodiscard]] std::uint64_t first() const { return first_; }
  [[nodiscard]] std::uint64_t last() const { return last_; }
  [[nodiscard]] std::uint64_t length() const { return last_ - first_ + 1; }

 private:
  ByteRange(Kind kind, std::uint64_t first, std::uint64_t last)
      : kind_(kind), first_(first), last_(last) {}

  Kind kind_;
  std::uint64_t first_;
  std::uint64_t last_;
};

}  // namespace tolvane::tools
