#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Platform/Data.h"
#include "Platform/HeaderFields.h"
#include "Platform/URLRequest.h"

namespace tolvane::platform {

// What an interrupted download needs to continue: the request, the partial file, the
// validator that tells whether the server's file is still the same one and the file's
// complete length, which the rest must come with. Encoded as a small JSON document; anything
// that does not decode to a complete record is rejected (so is what older versions wrote,
// which lacks the complete length).
struct ResumeData {
  URLRequest request;
  std::filesystem::path temporaryFile;
  std::int64_t bytesReceived = 0;
  // What ifRangeValidator chose for the answer the partial file began with.
  std::string validator;
  std::int64_t completeLength = 0;

  [[nodiscard]] Data encoded() const;
  [[nodiscard]] static std::optional<ResumeData> decode(const Data& data);
};

// The validator a response with these header fields allows in If-Range, when there is one:
// a strong entity tag; with no entity tag at all, a Last-Modified date at least one second
// before the response's Date, since a file can change again within the second it was
// changed in without its date showing it. A weak entity tag rules the date out as well.
[[nodiscard]] std::optional<std::string> ifRangeValidator(const HeaderFields& fields);

}  // namespace tolvane::platform
