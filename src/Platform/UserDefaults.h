#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Data.h"

namespace tolvane::platform {

// The program's small persistent settings: byte blobs under string keys, kept as one JSON
// document in "$XDG_CONFIG_HOME/tolvane-installer/defaults.json" (or under "$HOME/.config"
// when XDG_CONFIG_HOME is unset or not absolute). Values are stored base64-encoded, so any
// bytes survive, UTF-8 or not.
//
// The file is read afresh on every access (another instance may have written it) and
// replaced atomically on every change (temporary file, fsync, rename, fsync of the folder),
// so a crash never leaves a half-written document. A missing, unreadable or corrupt file
// reads as "no entries". One mutex serialises all access within the process; between
// processes the last writer wins.
class UserDefaults {
 public:
  // The program-wide instance.
  static UserDefaults& standard();

  // The bytes stored under the key, or nothing (also when the entry is not a valid value).
  [[nodiscard]] std::optional<Data> data(const std::string& key) const;

  // Stores the bytes under the key, replacing any previous value. Throws SystemError when
  // the document cannot be written; the previous document is then left as it was.
  void set(const Data& value, const std::string& key);

  // Removes the key's entry, if any. Throws SystemError like set().
  void removeObject(const std::string& key);

  // Throws SystemError, as set() would, when the document cannot be written now; changes
  // nothing. For callers that must not start work whose outcome they could not record.
  void checkWritable() const;

  // Where the document lives, computed from the current environment.
  [[nodiscard]] std::filesystem::path fileURL() const;

 private:
  mutable std::mutex mutex_;  // guards the file, not any in-memory state
};

}  // namespace tolvane::platform
