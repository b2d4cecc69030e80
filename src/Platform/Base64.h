#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Platform/Data.h"

namespace tolvane::platform {

// Base64 with the standard alphabet ("+", "/") and "=" padding, as settings values,
// Basic credentials and minisign keys and signatures are written.
[[nodiscard]] std::string encodeBase64(std::string_view bytes);

// The bytes of `text`, or nothing unless it is whole groups of four digits with padding
// only at its end: no white space, no line breaks, no other alphabet.
[[nodiscard]] std::optional<Data> decodeBase64(std::string_view text);

}  // namespace tolvane::platform
