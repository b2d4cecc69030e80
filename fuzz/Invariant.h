#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include <unistd.h>

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

// A private folder for the files a target writes, removed at exit. On a RAM disk when there
// is one: a write that syncs costs nothing there, which is the difference between tens and
// thousands of runs a second. One per process.
inline std::filesystem::path scratchFolder(const char* name) {
  namespace fs = std::filesystem;
  static fs::path folder;
  std::error_code error;
  const fs::path ramDisk = "/dev/shm";
  const fs::path base = fs::is_directory(ramDisk, error) && ::access(ramDisk.c_str(), W_OK) == 0
                            ? ramDisk
                            : fs::temp_directory_path();
  std::string pattern = (base / (std::string("tolvane-fuzz-") + name + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) fail("a scratch folder can be made");
  folder = pattern;
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  });
  return folder;
}

}  // namespace tolvane::fuzz
