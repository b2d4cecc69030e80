#include "Platform/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "Platform/FileDescriptor.h"
#include "Platform/OperatingSystem.h"
#include "Platform/SystemError.h"

namespace tolvane::platform {
namespace {

namespace fs = std::filesystem;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

using Operation = SystemError::Operation;

[[noreturn]] void fail(Operation operation, const fs::path& path,
                       std::optional<fs::path> other = {}) {
  throw SystemError::fromErrno(operation, path, std::move(other));
}

// A copy fails on one side: reading what is copied, or saving the copy. The message names
// that side's item.
[[noreturn]] void failReading(const fs::path& from) { fail(Operation::read, from); }
[[noreturn]] void failSaving(const fs::path& to) { fail(Operation::save, to); }

void copyFile(const fs::path& from, const fs::path& to, mode_t mode) {
  FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!source) failReading(from);
  FileDescriptor destination(
      ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777));
  if (!destination) failSaving(to);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(source.get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      failReading(from);
    }
    if (got == 0) break;
    if (!writeFully(destination.get(), buffer.data(), static_cast<size_t>(got))) failSaving(to);
  }
  // open() applied the umask; the copy keeps the source's bits (the runtime's executables).
  if (::fchmod(destination.get(), mode & 07777) != 0) failSaving(to);
  // A late write error (full disk, network file system) surfaces only at close.
  if (::close(destination.release()) != 0) failSaving(to);
}

void copyTree(const fs::path& from, const fs::path& to) {
  struct stat info {};
  if (::lstat(from.c_str(), &info) != 0) failReading(from);
  if (S_ISLNK(info.st_mode)) {
    std::string target(static_cast<size_t>(info.st_size) + 1, '\0');
    const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
    if (length < 0) failReading(from);
    target.resize(static_cast<size_t>(length));
    if (::symlink(target.c_str(), to.c_str()) != 0) failSaving(to);
  } else if (S_ISDIR(info.st_mode)) {
    if (::mkdir(to.c_str(), 0700) != 0) failSaving(to);
    DirHandle dir(::opendir(from.c_str()));
    if (!dir) failReading(from);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    if (errno != 0) failReading(from);
    for (const auto& name : names) {
      copyTree(from / name, to / name);
    }
    if (::chmod(to.c_str(), info.st_mode & 07777) != 0) failSaving(to);
  } else if (S_ISREG(info.st_mode)) {
    copyFile(from, to, info.st_mode);
  } else {
    throw SystemError(ENOTSUP, Operation::copy, from, to);
  }
}

bool isDirectory(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool lexists(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

FileManager& FileManager::defaultManager() {
  static FileManager manager;
  return manager;
}

fs::path FileManager::homeDirectoryForCurrentUser() const {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return home;
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
      result != nullptr && result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return "/";
}

bool FileManager::fileExists(const fs::path& path) const {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

void FileManager::createDirectory(const fs::path& path, bool withIntermediateDirectories) const {
  if (!withIntermediateDirectories) {
    if (::mkdir(path.c_str(), 0777) != 0) fail(Operation::createFolder, path);
    return;
  }
  std::vector<fs::path> components;
  for (const auto& component : path.lexically_normal()) {
    if (!component.empty()) components.push_back(component);
  }
  fs::path prefix;
  for (size_t i = 0; i < components.size(); ++i) {
    prefix /= components[i];
    const bool last = i + 1 == components.size();
    if (prefix == prefix.root_path() || isDirectory(prefix)) continue;
    if (::mkdir(prefix.c_str(), 0777) == 0) continue;
    if (errno == EEXIST) {
      if (isDirectory(prefix)) continue;  // created by someone else meanwhile
      throw SystemError(last ? EEXIST : ENOTDIR, Operation::createFolder, prefix);
    }
    fail(Operation::createFolder, prefix);
  }
}

void FileManager::copyItem(const fs::path& at, const fs::path& to) const {
  if (lexists(to)) throw SystemError(EEXIST, Operation::copy, at, to);
  try {
    copyTree(at, to);
  } catch (const SystemError&) {
    std::error_code ignored;
    if (lexists(to)) fs::remove_all(to, ignored);
    throw;
  }
}

void FileManager::removeItem(const fs::path& path) const {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) fail(Operation::remove, path);
  if (S_ISDIR(info.st_mode)) {
    std::error_code error;
    fs::remove_all(path, error);
    if (error) throw SystemError(error.value(), Operation::remove, path);
    return;
  }
  if (::unlink(path.c_str()) != 0) fail(Operation::remove, path);
}

void FileManager::moveItem(const fs::path& at, const fs::path& to) const {
  if (os::renameWithoutReplacing(at, to)) return;
  if (errno != EXDEV) fail(Operation::move, at, to);
  copyItem(at, to);
  removeItem(at);
}

void FileManager::replaceItemDurably(const fs::path& replacement,
                                     const fs::path& destination) const {
  const FileDescriptor file(::open(replacement.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) fail(Operation::read, replacement);
  // To the user this is saving the destination; the replacement is the program's own file.
  if (!os::synchronizeData(file.get()) || ::rename(replacement.c_str(), destination.c_str()) != 0) {
    fail(Operation::save, destination);
  }
}

}  // namespace tolvane::platform
