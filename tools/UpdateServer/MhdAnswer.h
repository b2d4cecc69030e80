#pragma once

#include <microhttpd.h>

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
// Framing the server and a proxy in front of it could read differently is refused, so a
// request cannot smuggle another one past either of them.
[[nodiscard]] bool hasAmbiguousFraming(MHD_Connection* connection);

}  // namespace tolvane::tools
