#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// What every fuzz target shares: a wrong answer aborts, so libFuzzer keeps the input as it
// does for a sanitizer report; inputs are read as text, often line by line.
namespace tolvane::fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

inline void check(bool condition, const char* what) {
  if (!condition) fail(what);
}

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Removes the first line from `input` and returns it; `keepNewline` leaves its '\n' on.
inline std::string_view takeLine(std::string_view& input, bool keepNewline = false) {
  const auto newline = input.find('\n');
  const auto length = newline == std::string_view::npos ? input.size() : newline + 1;
  std::string_view line = input.substr(0, length);
  input.remove_prefix(length);
  if (!keepNewline && !line.empty() && line.back() == '\n') line.remove_suffix(1);
  return line;
}

}  // namespace tolvane::fuzz
