#include "Services/JavaArchiveCheck.h"

#include <zip.h>

#include <memory>
#include <string>

#include "Services/RefusedBodyError.h"

namespace tolvane {
namespace {

http::ValidationResult refused(std::string detail) {
  return http::ValidationResult::failure(platform::makeError(
      RefusedBodyError(RefusedBodyError::Reason::notAJavaArchive, std::move(detail))));
}

}  // namespace

http::ValidationResult checkJavaArchive(const std::filesystem::path& file) {
  int code = ZIP_ER_OK;
  // ZIP_CHECKCONS compares every central directory entry with its local header, which a
  // truncated or spliced file does not survive.
  const std::unique_ptr<zip_t, decltype(&zip_discard)> archive(
      zip_open(file.c_str(), ZIP_CHECKCONS | ZIP_RDONLY, &code), &zip_discard);
  if (!archive) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string detail = zip_error_strerror(&error);
    zip_error_fini(&error);
    return refused(std::move(detail));
  }
  // libzip takes an empty file for an empty archive; java cannot start either.
  if (zip_get_num_entries(archive.get(), 0) < 1) return refused("no entries");
  return http::ValidationResult::success();
}

}  // namespace tolvane
