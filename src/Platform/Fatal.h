#pragma once

#include <string_view>

namespace tolvane::platform {

// Stops the process for a programming error (a broken invariant, a wrong queue, a misuse
// of an API), never as a reaction to input: writes `message` and a newline to stderr and
// aborts, so a debugger or a core dump shows where.
[[noreturn]] void fatalError(std::string_view message);

}  // namespace tolvane::platform

// Stops the process with `message` unless `condition` holds.
#define TOLVANE_CHECK(condition, message)                       \
  do {                                                          \
    if (!(condition)) ::tolvane::platform::fatalError(message); \
  } while (false)
