#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tolvane::test {

// A small but real Java archive, as a server would serve a launcher: a zip file with one
// stored entry holding `marker`, so that versions made with different markers differ.
[[nodiscard]] std::string testJar(std::string_view marker);
// The same, exactly `size` bytes long, its entry filled with patternBytes(…, seed): large
// archives whose every byte depends on its position, so a spliced or shifted copy is caught.
[[nodiscard]] std::string testJarOfSize(std::size_t size, std::uint32_t seed = 1);

// Writes `file`: a Java archive like testJar's whose one stored entry is the file `content`,
// for archives too large to hold in memory.
void writeTestJar(const std::filesystem::path& file, const std::filesystem::path& content);

// `text` in the gzip content coding, as a server that compresses its answers sends it.
[[nodiscard]] std::string gzipped(std::string_view text);

}  // namespace tolvane::test
