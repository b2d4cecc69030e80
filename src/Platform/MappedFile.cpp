#include "Platform/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "Platform/FileDescriptor.h"
#include "Platform/SystemError.h"

namespace tolvane::platform {

MappedFile::MappedFile(const std::filesystem::path& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0)
    throw SystemError::fromErrno(SystemError::Operation::read, path);
  if (!S_ISREG(status.st_mode)) throw SystemError(EINVAL, SystemError::Operation::read, path);
  // mmap refuses a length of zero.
  if (status.st_size == 0) return;
  length_ = static_cast<std::size_t>(status.st_size);
  // The mapping keeps the file's pages reachable after the descriptor closes.
  void* address = ::mmap(nullptr, length_, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (address == MAP_FAILED) {
    length_ = 0;
    throw SystemError::fromErrno(SystemError::Operation::read, path);
  }
  address_ = address;
}

MappedFile::~MappedFile() { unmap(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), length_(std::exchange(other.length_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    unmap();
    address_ = std::exchange(other.address_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

void MappedFile::unmap() {
  if (address_ != nullptr) ::munmap(address_, length_);
  address_ = nullptr;
  length_ = 0;
}

}  // namespace tolvane::platform
