#pragma once

#include <string>
#include <typeinfo>

namespace tolvane::platform {

// The type's name as written in C++ ("tolvane::http::DataRequest"), or the compiler's
// internal name when it cannot be turned back.
[[nodiscard]] std::string typeName(const std::type_info& type);

}  // namespace tolvane::platform
