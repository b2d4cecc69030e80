#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "Platform/FileManager.h"
#include "Platform/OperatingSystem.h"

namespace tolvane::platform::os {
namespace {

namespace fs = std::filesystem;

std::mutex gCommandLineLock;
std::vector<std::string>& recordedCommandLine() {
  static std::vector<std::string> arguments;
  return arguments;
}

// An environment variable naming an absolute folder; relative values are ignored, as the
// base-directory convention says.
std::optional<fs::path> absoluteFolderVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return fs::path(value);
}

fs::path home() { return FileManager::defaultManager().homeDirectoryForCurrentUser(); }

}  // namespace

void recordCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  const std::lock_guard lock(gCommandLineLock);
  recordedCommandLine() = std::move(arguments);
}

fs::path settingsFolder() {
  return absoluteFolderVariable("XDG_CONFIG_HOME").value_or(home() / ".config");
}

fs::path cacheFolder() {
  return absoluteFolderVariable("XDG_CACHE_HOME").value_or(home() / ".cache");
}

std::optional<fs::path> runtimeFolder() {
  auto folder = absoluteFolderVariable("XDG_RUNTIME_DIR");
  struct stat info {};
  if (folder && ::stat(folder->c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
      info.st_uid == ::getuid() && (info.st_mode & 077) == 0) {
    return folder;
  }
  return std::nullopt;
}

namespace posix {

std::vector<std::string> commandLine() {
  const std::lock_guard lock(gCommandLineLock);
  return recordedCommandLine();
}

// The program's name as it was started: a path when it holds a slash, else looked up on PATH
// the way the shell found it.
fs::path executablePath() {
  const auto arguments = commandLine();
  if (arguments.empty() || arguments.front().empty()) return {};
  const fs::path name = arguments.front();
  std::error_code error;
  if (name.native().find('/') != std::string::npos) {
    auto resolved = fs::canonical(name, error);
    return error ? fs::path() : resolved;
  }
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "";
  while (!folders.empty()) {
    const auto colon = folders.find(':');
    const std::string folder(folders.substr(0, colon));
    const fs::path candidate = (folder.empty() ? fs::path(".") : fs::path(folder)) / name;
    if (::access(candidate.c_str(), X_OK) == 0) {
      auto resolved = fs::canonical(candidate, error);
      if (!error) return resolved;
    }
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  return {};
}

// POSIX has no call for it (each system names threads its own way).
void nameCurrentThread(const std::string& /*name*/) {}

bool synchronizeData(int fd) {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Checks, then renames: a name that appears in between is replaced. Used where the system
// cannot refuse atomically.
bool renameWithoutReplacing(const fs::path& from, const fs::path& to) {
  struct stat info {};
  if (::lstat(to.c_str(), &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

FileDescriptor makeAnonymousFile(const fs::path& /*folder*/) { return FileDescriptor(); }

bool linkAnonymousFile(int /*fd*/, const fs::path& /*path*/) {
  errno = ENOTSUP;
  return false;
}

std::optional<MemoryFile> makeMemoryFile(const char* /*name*/, const std::string& /*contents*/) {
  return std::nullopt;
}

// The name resolved now, accepted only when it still leads to the very file the descriptor
// holds (same device and inode): a link swapped in before the open, and back after it, is
// caught by the inode; one still in place is resolved to where it leads. A file renamed over
// since the open cannot be told from a swapped one this way, and gets no path.
std::optional<fs::path> openedFilePath(int fd, const fs::path& openedAs) {
  std::error_code error;
  const fs::path real = fs::canonical(openedAs, error);
  struct stat opened {};
  struct stat named {};
  if (error || ::fstat(fd, &opened) != 0 || ::stat(real.c_str(), &named) != 0 ||
      opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    return std::nullopt;
  }
  return real;
}

bool makeCloseOnExecPipe(int (&fds)[2]) {
  if (::pipe(fds) != 0) return false;
  for (const int fd : fds) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return true;
}

// Every descriptor number the process may have, one call each.
void markInheritedDescriptorsCloseOnExec() {
  rlimit limit{};
  const rlim_t last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                          ? limit.rlim_cur
                          : 65536;
  for (rlim_t fd = 3; fd < last; ++fd) ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
}

}  // namespace posix
}  // namespace tolvane::platform::os
