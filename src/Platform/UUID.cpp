#include "Platform/UUID.h"

#include <random>

namespace tolvane::platform {

UUID::UUID() : bytes_{} {
  // One seeded engine per thread: random_device may be slow, and engines are not thread-safe.
  thread_local std::mt19937_64 engine{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  for (std::size_t i = 0; i < bytes_.size(); i += 8) {
    std::uint64_t word = engine();
    for (std::size_t j = 0; j < 8; ++j) bytes_[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
  }
  bytes_[6] = static_cast<std::uint8_t>((bytes_[6] & 0x0F) | 0x40);  // version 4
  bytes_[8] = static_cast<std::uint8_t>((bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

std::string UUID::uuidString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(kHex[bytes_[i] >> 4]);
    out.push_back(kHex[bytes_[i] & 0xF]);
  }
  return out;
}

}  // namespace tolvane::platform
