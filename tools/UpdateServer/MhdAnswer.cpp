#include "UpdateServer/MhdAnswer.h"

#include <strings.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace tolvane::tools {

Response textResponse(const std::string& text) {
  Response response(MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()),
                                                    MHD_RESPMEM_MUST_COPY));
  MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
  return response;
}

Response emptyResponse() {
  return Response(MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT));
}

Answer textAnswer(unsigned status, const char* text) {
  return {status, textResponse(std::string(text) + "\n")};
}

std::optional<std::string> header(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

std::vector<std::string> headerValues(MHD_Connection* connection, const char* name) {
  struct Search {
    const char* name;
    std::vector<std::string> values;
  } search{name, {}};
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
        auto& found = *static_cast<Search*>(cls);
        if (::strcasecmp(key, found.name) == 0) {
          found.values.emplace_back(value == nullptr ? "" : value);
        }
        return MHD_YES;
      },
      &search);
  return std::move(search.values);
}

bool hasAmbiguousFraming(MHD_Connection* connection) {
  struct Framing {
    std::vector<std::string> lengths;
    bool chunked = false;
  } framing;
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
        auto& found = *static_cast<Framing*>(cls);
        if (::strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0) {
          found.lengths.emplace_back(value == nullptr ? "" : value);
        } else if (::strcasecmp(key, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0) {
          found.chunked = true;
        }
        return MHD_YES;
      },
      &framing);
  const bool conflictingLengths =
      std::adjacent_find(framing.lengths.begin(), framing.lengths.end(), std::not_equal_to<>()) !=
      framing.lengths.end();
  return conflictingLengths || (framing.chunked && !framing.lengths.empty());
}

}  // namespace tolvane::tools
