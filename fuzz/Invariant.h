#pragma once

#include <cstdio>
#include <cstdlib>

// What every fuzz target reports when the code gives a wrong answer: libFuzzer treats the
// abort as a crash and keeps the input, just as it does for a sanitizer report.
namespace tolvane::fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

inline void check(bool condition, const char* what) {
  if (!condition) fail(what);
}

}  // namespace tolvane::fuzz
