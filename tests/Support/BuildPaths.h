#pragma once

#include <filesystem>

namespace tolvane::test {

// Where the build under test lives. Kept out of every other file's compile flags, so that a
// clone in another folder compiles them to the same objects (and hits the compiler cache).
[[nodiscard]] std::filesystem::path buildFolder();
// The built resource folder (java.zip, the logo, Info.json).
[[nodiscard]] std::filesystem::path resourceFolder();

}  // namespace tolvane::test
