#include "HTTP/Response/ResponseSerializer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "HTTP/Response/PassthroughPreprocessor.h"
#include "Platform/FileDescriptor.h"

namespace tolvane::http {

const EmptyResponseCodes& defaultEmptyResponseCodes() {
  static const EmptyResponseCodes codes{204, 205};
  return codes;
}

const EmptyRequestMethods& defaultEmptyRequestMethods() {
  static const EmptyRequestMethods methods{HTTPMethod::head};
  return methods;
}

std::shared_ptr<const DataPreprocessor> defaultDataPreprocessor() {
  static const auto passthrough = std::make_shared<const PassthroughPreprocessor>();
  return passthrough;
}

std::optional<platform::Data> readWholeFile(const platform::URL& fileURL) {
  if (!fileURL.isFileURL()) return std::nullopt;
  const platform::FileDescriptor file(::open(fileURL.filePath().c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return std::nullopt;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  platform::Data data;
  data.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[64 * 1024];
  for (;;) {
    const auto count = ::read(file.get(), buffer, sizeof buffer);
    if (count == 0) return data;
    if (count < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    data.append(buffer, static_cast<std::size_t>(count));
  }
}

}  // namespace tolvane::http
