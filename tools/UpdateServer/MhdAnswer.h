#pragma once

#include <microhttpd.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::tools {

// Small pieces of answering over libmicrohttpd.

struct ResponseDeleter {
  void operator()(MHD_Response* response) const { MHD_destroy_response(response); }
};
using Response = std::unique_ptr<MHD_Response, ResponseDeleter>;

struct Answer {
  unsigned status;
  Response response;
};

// A plain-text response with `text` (copied).
[[nodiscard]] Response textResponse(const std::string& text);
[[nodiscard]] Response emptyResponse();
// `status` with `text` and a line break as a plain-text body.
[[nodiscard]] Answer textAnswer(unsigned status, const char* text);
// The request header `name`, if the request has one (the first, if it has several).
[[nodiscard]] std::optional<std::string> header(MHD_Connection* connection, const char* name);
// Every value of the request header `name`, in the order received.
[[nodiscard]] std::vector<std::string> headerValues(MHD_Connection* connection, const char* name);
// The status that refuses a request whose body cannot be read safely, decided from the head
// before any of the body is read: framing the server and a proxy in front of it could read
// differently, so that a request could be smuggled past either (400); a transfer coding
// other than chunked (501); a declared length over `largestBody` (413).
[[nodiscard]] std::optional<unsigned> framingRefusal(MHD_Connection* connection,
                                                     std::size_t largestBody);

}  // namespace tolvane::tools
