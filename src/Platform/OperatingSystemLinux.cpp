// The Linux kernel's ways of doing what OperatingSystem.h asks, each falling back to the POSIX
// way where the kernel or the file system does not offer it. Built unless
// TOLVANE_PORTABLE_POSIX is set.
#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "Platform/OperatingSystem.h"

namespace tolvane::platform::os {
namespace {

namespace fs = std::filesystem;

// A descriptor as a path any program can open (the kernel's view of our open files).
std::string descriptorLink(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

fs::path executablePath() {
  std::error_code error;
  auto path = fs::read_symlink("/proc/self/exe", error);
  return error ? posix::executablePath() : path;
}

std::vector<std::string> commandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (all.empty()) return posix::commandLine();
  std::vector<std::string> arguments;
  for (std::size_t start = 0; start < all.size();) {
    const auto end = all.find('\0', start);
    arguments.push_back(all.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return arguments;
}

void nameCurrentThread(const std::string& name) {
  // At most 15 bytes; the tail of a label is the telling part.
  const std::string shown = name.size() > 15 ? name.substr(name.size() - 15) : name;
  pthread_setname_np(pthread_self(), shown.c_str());
}

bool synchronizeData(int fd) {
  while (::fdatasync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool renameWithoutReplacing(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  // File systems that cannot refuse atomically.
  if (errno == EINVAL || errno == ENOSYS) return posix::renameWithoutReplacing(from, to);
  return false;
}

FileDescriptor makeAnonymousFile(const fs::path& folder) {
  return FileDescriptor(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
}

bool linkAnonymousFile(int fd, const fs::path& path) {
  return ::linkat(AT_FDCWD, descriptorLink(fd).c_str(), AT_FDCWD, path.c_str(),
                  AT_SYMLINK_FOLLOW) == 0;
}

std::optional<MemoryFile> makeMemoryFile(const char* name, const std::string& contents) {
  FileDescriptor memory(::memfd_create(name, MFD_CLOEXEC));
  if (!memory || !writeFully(memory.get(), contents.data(), contents.size())) return std::nullopt;
  const std::string path = descriptorLink(memory.get());
  // /proc may be missing or mounted without access to our descriptors.
  if (::access(path.c_str(), R_OK) != 0) return std::nullopt;
  return MemoryFile{std::move(memory), path};
}

std::optional<fs::path> openedFilePath(int fd, const fs::path& openedAs) {
  std::array<char, 4096> target{};
  const ssize_t length = ::readlink(descriptorLink(fd).c_str(), target.data(), target.size() - 1);
  if (length <= 0) return posix::openedFilePath(fd, openedAs);
  std::string real(target.data(), static_cast<std::size_t>(length));
  // A file unlinked (or replaced by a rename) since it was opened is still the file opened.
  constexpr std::string_view kDeleted = " (deleted)";
  if (real.size() > kDeleted.size() && real.ends_with(kDeleted)) {
    real.resize(real.size() - kDeleted.size());
  }
  return fs::path(real);
}

bool makeCloseOnExecPipe(int (&fds)[2]) { return ::pipe2(fds, O_CLOEXEC) == 0; }

void markInheritedDescriptorsCloseOnExec() {
  if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  // Kernels before 5.11: walk /proc/self/fd with raw getdents64 (opendir allocates).
  const int folder = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    posix::markInheritedDescriptorsCloseOnExec();
    return;
  }
  alignas(dirent64) char buffer[4096];
  for (ssize_t got; (got = ::getdents64(folder, buffer, sizeof buffer)) > 0;) {
    for (ssize_t offset = 0; offset < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
      offset += entry->d_reclen;
      int fd = 0;
      const char* digit = entry->d_name;
      for (; *digit >= '0' && *digit <= '9'; ++digit) fd = fd * 10 + (*digit - '0');
      if (*digit == '\0' && digit != entry->d_name && fd > 2 && fd != folder) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      }
    }
  }
  ::close(folder);
}

}  // namespace tolvane::platform::os
