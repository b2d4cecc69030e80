#include "Platform/Base64.h"

#include <array>
#include <cstdint>

namespace tolvane::platform {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string encodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = (uint32_t(uint8_t(bytes[i])) << 16) |
                       (uint32_t(uint8_t(bytes[i + 1])) << 8) | uint8_t(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (const size_t rest = bytes.size() - i; rest > 0) {
    uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
    if (rest == 2) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<Data> decodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::array<int, 256> value{};
  value.fill(-1);
  for (size_t i = 0; i < kAlphabet.size(); ++i) value[uint8_t(kAlphabet[i])] = int(i);
  Data out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool lastGroup = i + 4 == text.size();
    int digits[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + size_t(k)];
      if (c == '=' && lastGroup && k >= 2) {
        digits[k] = 0;
        ++padding;
      } else if (padding > 0 || (digits[k] = value[uint8_t(c)]) < 0) {
        return std::nullopt;
      }
    }
    const uint32_t n = (uint32_t(digits[0]) << 18) | (uint32_t(digits[1]) << 12) |
                       (uint32_t(digits[2]) << 6) | uint32_t(digits[3]);
    out += char((n >> 16) & 0xFF);
    if (padding < 2) out += char((n >> 8) & 0xFF);
    if (padding < 1) out += char(n & 0xFF);
  }
  return out;
}

}  // namespace tolvane::platform
