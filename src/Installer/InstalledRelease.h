#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "Platform/UserDefaults.h"

namespace tolvane {

// The release whose signature vouched for the installed launcher jar: its signed timestamp,
// which a newer download must not go below, and the jar file it was recorded for (its size
// and modification time), so that a jar written by anything else (an installer built without
// release keys, a copy by hand) is not taken for a verified one. Kept in the user defaults
// under a key of its own beside "loaderModel", whose value keeps its own format.
// A plain value; load() and store() go through the user defaults' own lock.
struct InstalledRelease {
  static constexpr const char* kKey = "installedRelease";

  std::int64_t timestamp = 0;
  std::uintmax_t jarSize = 0;
  std::int64_t jarModified = 0;  // nanoseconds on the file system's clock

  // The record, or nothing when there is none or it does not decode.
  [[nodiscard]] static std::optional<InstalledRelease> load(const platform::UserDefaults& defaults);
  // Records that the jar now at `jar` was verified under a signature made at `timestamp`.
  // Throws platform::SystemError when the jar cannot be looked at or the settings cannot be
  // written; the previous record is then left as it was.
  static void store(platform::UserDefaults& defaults, std::int64_t timestamp,
                    const std::filesystem::path& jar);

  // Whether the file at `jar` is still the one this record was written for.
  [[nodiscard]] bool describes(const std::filesystem::path& jar) const;
};

// Whether release keys are configured, so that only a verified jar may be started. A
// malformed key counts: it must make downloads fail, never quietly turn checking off.
[[nodiscard]] bool releaseKeysConfigured();

}  // namespace tolvane
