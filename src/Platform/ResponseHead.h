#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/HTTPURLResponse.h"
#include "Platform/HeaderFields.h"

namespace tolvane::platform {

// Reads a response head as libcurl hands it over: one line at a time, line ending included.
// Pure text work, no transport, so hostile heads can be thrown at it directly.
//   - A status line ("HTTP/...") starts a new response: interim 1xx heads are skipped over.
//   - The blank line after a final (non-1xx) status completes the head; whatever follows
//     (trailers) is ignored.
//   - Obsolete folded continuation lines and lines without a colon are dropped; repeated
//     fields combine into one comma-separated value (empty elements left out); names and
//     values are trimmed.
class ResponseHeadReader {
 public:
  // Takes one line; true when it completed the head.
  bool take(std::string_view line);

  [[nodiscard]] bool complete() const { return complete_; }
  // 0 until a status line has been read, or when it has no code.
  [[nodiscard]] int statusCode() const { return statusCode_; }
  [[nodiscard]] const HeaderFields& fields() const { return fields_; }

 private:
  int statusCode_ = 0;
  HeaderFields fields_;
  bool complete_ = false;
};

// The response a completed head describes. `expectedContentLength` is what the transport
// worked out from the head (kTransferSizeUnknown when none); mimeType, textEncodingName and
// suggestedFilename come from the fields and `url`.
[[nodiscard]] HTTPURLResponse describeResponse(URL url, int statusCode, HeaderFields fields,
                                               std::int64_t expectedContentLength);

// "Content-Range: bytes FIRST-LAST/TOTAL": the offsets of the first and last byte, and TOTAL
// when the server knows it (else kTransferSizeUnknown).
struct ContentRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t total = kTransferSizeUnknown;
};
[[nodiscard]] std::optional<ContentRange> parseContentRange(std::string_view value);

// The file name a Content-Disposition value proposes (filename*= before filename=), reduced
// to one safe path component; empty when there is none.
[[nodiscard]] std::string fileNameFromDisposition(std::string_view disposition);

// `name` reduced to one path component without control bytes: a name such as
// "../../.profile" must not steer where a caller saves the file. Empty for "." and "..".
[[nodiscard]] std::string safeFileName(std::string_view name);

}  // namespace tolvane::platform
