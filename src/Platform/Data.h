#pragma once

#include <string>

namespace tolvane::platform {

// A byte buffer. std::string is contiguous, cheap to append to, and what libcurl and the
// JSON library take directly; it carries arbitrary bytes, not only text.
using Data = std::string;

}  // namespace tolvane::platform
