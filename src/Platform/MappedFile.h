#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace tolvane::platform {

// A file's bytes mapped read-only, for reading a large file whole without a copy in
// memory: the pages come from the file system's cache and go back to it. Changing the
// file's length while it is mapped is not allowed (a read past a truncated end faults).
// Move-only; the bytes are valid as long as the object lives.
class MappedFile {
 public:
  // Throws SystemError when the file cannot be opened or mapped. An empty file has no bytes.
  explicit MappedFile(const std::filesystem::path& path);
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  [[nodiscard]] std::string_view bytes() const {
    return {static_cast<const char*>(address_), length_};
  }

 private:
  void unmap();

  void* address_ = nullptr;
  std::size_t length_ = 0;
};

}  // namespace tolvane::platform
