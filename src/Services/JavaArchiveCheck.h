#pragma once

#include <filesystem>

#include "HTTP/Response/ValidationResult.h"

namespace tolvane {

// Whether `file` can be a Java archive: a zip archive with at least one entry whose
// end-of-central-directory record, central directory and local headers read back
// consistently. An HTML page, an empty body or a file spliced from two versions fails with
// RefusedBodyError (notAJavaArchive). Nothing else about the contents is judged: the
// manifest's hash and size stay opaque. Reads the file only; any thread.
[[nodiscard]] http::ValidationResult checkJavaArchive(const std::filesystem::path& file);

}  // namespace tolvane
