// The POSIX way throughout: built instead of OperatingSystemLinux.cpp with
// TOLVANE_PORTABLE_POSIX, and on systems that are not Linux.
#include "Platform/OperatingSystem.h"

namespace tolvane::platform::os {

namespace fs = std::filesystem;

fs::path executablePath() { return posix::executablePath(); }
std::vector<std::string> commandLine() { return posix::commandLine(); }
void nameCurrentThread(const std::string& name) { posix::nameCurrentThread(name); }
bool synchronizeData(int fd) { return posix::synchronizeData(fd); }
bool renameWithoutReplacing(const fs::path& from, const fs::path& to) {
  return posix::renameWithoutReplacing(from, to);
}
FileDescriptor makeAnonymousFile(const fs::path& folder) {
  return posix::makeAnonymousFile(folder);
}
bool linkAnonymousFile(int fd, const fs::path& path) { return posix::linkAnonymousFile(fd, path); }
std::optional<MemoryFile> makeMemoryFile(const char* name, const std::string& contents) {
  return posix::makeMemoryFile(name, contents);
}
std::optional<fs::path> openedFilePath(int fd, const fs::path& openedAs) {
  return posix::openedFilePath(fd, openedAs);
}
bool makeCloseOnExecPipe(int (&fds)[2]) { return posix::makeCloseOnExecPipe(fds); }
void markInheritedDescriptorsCloseOnExec() { posix::markInheritedDescriptorsCloseOnExec(); }

}  // namespace tolvane::platform::os
