#pragma once

#include <filesystem>
#include <optional>
#include <utility>

#include "Platform/FileDescriptor.h"

namespace tolvane::platform {

// An exclusive advisory lock (flock) on a lock file, held for the object's lifetime: other
// processes that lock the same file wait until it is released. Released when the object is
// destroyed, and by the system when the process ends however it ends, so a crashed holder
// never blocks anybody. The descriptor is close-on-exec: children we start (an unpacking
// tool, the launcher that outlives us) do not keep the lock.
//
// Used from one thread; move-only.
class FileLock {
 public:
  // Creates the lock file if needed (mode 0644) and blocks until the lock is ours. None when
  // the file cannot be opened or locked (missing folder, no permission, a file system
  // without locks); the caller then goes on unprotected.
  [[nodiscard]] static std::optional<FileLock> acquire(const std::filesystem::path& lockFile);
  // The same without waiting: none also while another holder has it.
  [[nodiscard]] static std::optional<FileLock> tryAcquire(const std::filesystem::path& lockFile);

  FileLock(FileLock&&) noexcept = default;
  FileLock& operator=(FileLock&&) noexcept = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() = default;  // closing the descriptor releases the lock

 private:
  explicit FileLock(FileDescriptor file) : file_(std::move(file)) {}
  static std::optional<FileLock> lock(const std::filesystem::path& lockFile, bool wait);

  FileDescriptor file_;
};

}  // namespace tolvane::platform
