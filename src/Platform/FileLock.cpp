#include "Platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace tolvane::platform {

std::optional<FileLock> FileLock::acquire(const std::filesystem::path& lockFile) {
  return lock(lockFile, true);
}

std::optional<FileLock> FileLock::tryAcquire(const std::filesystem::path& lockFile) {
  return lock(lockFile, false);
}

std::optional<FileLock> FileLock::lock(const std::filesystem::path& lockFile, bool wait) {
  FileDescriptor file(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!file) return std::nullopt;
  const int operation = wait ? LOCK_EX : LOCK_EX | LOCK_NB;
  int result = 0;
  do {
    result = ::flock(file.get(), operation);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return std::nullopt;
  return FileLock(std::move(file));
}

}  // namespace tolvane::platform
