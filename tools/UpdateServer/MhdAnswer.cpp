#include "UpdateServer/MhdAnswer.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <functional>

#include "Platform/Text.h"

namespace tolvane::tools {

using platform::lowercased;
using platform::trimmed;

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

std::optional<unsigned> framingRefusal(MHD_Connection* connection, std::size_t largestBody) {
  const std::vector<std::string> lengths = headerValues(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
  const std::vector<std::string> fields =
      headerValues(connection, MHD_HTTP_HEADER_TRANSFER_ENCODING);
  if (!fields.empty()) {
    if (!lengths.empty()) {
      return MHD_HTTP_BAD_REQUEST;
    }
    // One list, possibly split over several fields; empty elements do not count.
    std::vector<std::string> codings;
    for (const std::string& field : fields) {
      std::string_view rest = field;
      while (!rest.empty()) {
        const auto comma = std::min(rest.find(','), rest.size());
        if (const auto coding = trimmed(rest.substr(0, comma)); !coding.empty()) {
          codings.push_back(lowercased(coding));
        }
        rest.remove_prefix(std::min(comma + 1, rest.size()));
      }
    }
    // Only a final "chunked", applied once, says where the body ends; without it the
    // rest of the connection cannot be read as requests.
    if (codings.empty() || codings.back() != "chunked" ||
        std::count(codings.begin(), codings.end(), "chunked") != 1) {
      return MHD_HTTP_BAD_REQUEST;
    }
    if (codings.size() > 1) {
      return MHD_HTTP_NOT_IMPLEMENTED;
    }
    return std::nullopt;
  }
  if (lengths.empty()) {
    return std::nullopt;
  }
  if (std::adjacent_find(lengths.begin(), lengths.end(), std::not_equal_to<>()) != lengths.end()) {
    return MHD_HTTP_BAD_REQUEST;
  }
  const std::string_view length = trimmed(lengths.front());
  std::uint64_t declared = 0;
  const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), declared);
  if (error == std::errc::result_out_of_range) {
    return MHD_HTTP_CONTENT_TOO_LARGE;
  }
  if (error != std::errc() || end != length.data() + length.size() || length.empty()) {
    return MHD_HTTP_BAD_REQUEST;
  }
  return declared > largestBody ? std::optional<unsigned>(MHD_HTTP_CONTENT_TOO_LARGE)
                                : std::nullopt;
}

}  // namespace tolvane::tools
