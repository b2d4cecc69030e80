#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::test {

// A stand-in for the bundled Java runtime: "java/bin/java" is a shell script that writes
// its working folder and arguments to a record file (atomically, via rename), optionally
// after a pause, so tests can check how the launcher was started.
struct LaunchRecord {
  std::string workingFolder;  // physical path
  std::vector<std::string> arguments;
};

class FakeRuntime {
 public:
  // The script's text.
  static std::string script(const std::filesystem::path& recordFile,
                            std::chrono::milliseconds delay = {});

  // Builds "java.zip" at `archive` with the real /usr/bin/zip, keeping the executable bit.
  static void writeArchive(const std::filesystem::path& archive,
                           const std::filesystem::path& recordFile,
                           std::chrono::milliseconds delay = {});

  [[nodiscard]] static std::optional<LaunchRecord> readRecord(const std::filesystem::path& file);
  // Polls until the record appears or the timeout passes.
  [[nodiscard]] static std::optional<LaunchRecord> waitForRecord(
      const std::filesystem::path& file,
      std::chrono::milliseconds timeout = std::chrono::seconds(10));
};

}  // namespace tolvane::test
