#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tolvane::platform {

// A random (version 4) universally unique identifier: an immutable 16-byte value, compared
// and hashed by its bytes. Used as the identity of requests.
class UUID {
 public:
  // A fresh random identifier (thread-safe).
  UUID();
  explicit UUID(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

  [[nodiscard]] const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
  // Upper-case 8-4-4-4-12 form, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
  [[nodiscard]] std::string uuidString() const;

  friend bool operator==(const UUID&, const UUID&) = default;
  friend auto operator<=>(const UUID&, const UUID&) = default;

 private:
  std::array<std::uint8_t, 16> bytes_;
};

}  // namespace tolvane::platform

template <>
struct std::hash<tolvane::platform::UUID> {
  std::size_t operator()(const tolvane::platform::UUID& id) const noexcept {
    std::size_t h = 0;
    for (auto b : id.bytes()) h = h * 131 + b;
    return h;
  }
};
