#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Platform/CATrust.h"
#include "Platform/CurlMulti.h"
#include "Platform/HeaderFields.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSessionTaskMetrics.h"

namespace tolvane::platform {

// What an attempt sends besides the request itself.
struct CurlRequestOptions {
  // The session's extra headers; the request's own win on equal names.
  HeaderFields sessionHeaders;
  double connectSeconds = URLRequest::kDefaultTimeoutInterval;
  // The CAs to trust; libcurl's defaults when null.
  const CATrust* caTrust = nullptr;
  CURLSH* share = nullptr;
  // Continue a partial download: ask for the bytes from `rangeStart` on, if the entity still
  // matches `validator` (If-Range).
  std::optional<std::int64_t> rangeStart;
  std::string validator;
};

// Sets `easy` up to send `request` as the caller wrote it: its method (a body-carrying
// method goes out with an empty body rather than none), headers (nothing libcurl would add
// by itself: no Expect, no Accept, no form Content-Type on an empty body) and the
// Accept-Encoding libcurl then decodes. Redirects are not followed: the task does that hop
// by hop. The header list lives in `headerList` for as long as the transfer. False when
// libcurl refused an option. The task's callbacks are its own business.
[[nodiscard]] bool setUpRequest(CURL* easy, const URLRequest& request,
                                const CurlRequestOptions& options, CurlSlist& headerList);

// Adds the timings and the bytes sent of `easy`'s transfer to `metrics`.
void addTransferMetrics(CURL* easy, URLSessionTaskMetrics& metrics);

}  // namespace tolvane::platform
