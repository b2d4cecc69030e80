// Builds a request, an encoding and a parameter tree from the input and runs the URL
// parameter encoding on them. The encoder may fail only with parameterEncodingFailed, must
// put the parameters where the method and destination say, must escape every byte outside
// the query-safe set, send one pair per leaf value, and the pairs of top-level texts must
// decode back to the keys and values given (nested key names and value texts of other
// kinds are URLEncodingTests' tables).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/URLEncoding.h"
#include "Invariant.h"
#include "Platform/URL.h"
#include "Platform/URLRequest.h"

namespace {

using tolvane::http::HTTPError;
using tolvane::http::Parameters;
using tolvane::http::URLEncoding;
using tolvane::platform::URL;
using tolvane::platform::URLRequest;

using tolvane::fuzz::check;

constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded; charset=utf-8";

bool isQuerySafe(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("-._~/?").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Every byte is query-safe or part of a well-formed "%XX" with upper-case digits.
bool isEscaped(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size() || !isUpperHex(text[i + 1]) || !isUpperHex(text[i + 2]))
        return false;
      i += 2;
    } else if (!isQuerySafe(static_cast<unsigned char>(text[i]))) {
      return false;
    }
  }
  return true;
}

std::string unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

Parameters makeValue(FuzzedDataProvider& input, int depth) {
  switch (input.ConsumeIntegralInRange<int>(0, depth >= 4 ? 6 : 8)) {
    case 0:
      return input.ConsumeRandomLengthString(24);
    case 1:
      return input.ConsumeBool();
    case 2:
      return input.ConsumeIntegral<std::int64_t>();
    case 3:
      return input.ConsumeIntegral<std::uint64_t>();
    case 4:
      return input.ConsumeFloatingPoint<double>();
    case 5:
      return nullptr;
    case 6: {
      const std::string bytes = input.ConsumeRandomLengthString(16);
      return Parameters::binary(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    case 7: {
      Parameters object = Parameters::object();
      const int members = input.ConsumeIntegralInRange<int>(0, 4);
      for (int i = 0; i < members; ++i) {
        const std::string key = input.ConsumeRandomLengthString(12);
        object[key] = makeValue(input, depth + 1);
      }
      return object;
    }
    default: {
      Parameters list = Parameters::array();
      const int elements = input.ConsumeIntegralInRange<int>(0, 4);
      for (int i = 0; i < elements; ++i) list.push_back(makeValue(input, depth + 1));
      return list;
    }
  }
}

// How many pairs `value` makes: one per leaf, none for an empty map or list.
std::size_t leafCount(const Parameters& value) {
  if (!value.is_object() && !value.is_array()) return 1;
  std::size_t count = 0;
  for (const auto& nested : value) count += leafCount(nested);
  return count;
}

// The query text of `parameters`: escaped "key=value" pairs, one per leaf, in key order.
void checkQuery(const std::string& query, const Parameters& parameters) {
  std::vector<std::string> pieces;
  for (std::string_view rest = query; !query.empty();) {
    const auto amp = rest.find('&');
    pieces.emplace_back(rest.substr(0, amp));
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  check(pieces.size() == (parameters.is_object() ? leafCount(parameters) : 0),
        "one pair per leaf value");
  for (const auto& piece : pieces) {
    const auto equals = piece.find('=');
    check(equals != std::string::npos && piece.find('=', equals + 1) == std::string::npos,
          "each pair has exactly one '='");
    check(isEscaped(piece.substr(0, equals)) && isEscaped(piece.substr(equals + 1)),
          "keys and values are escaped");
  }
  if (!parameters.is_object()) return;
  std::vector<std::string> keys;
  for (const auto& [key, value] : parameters.items()) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  std::size_t index = 0;
  for (const auto& key : keys) {
    const Parameters& value = parameters.at(key);
    if (value.is_string()) {
      check(pieces[index] == URLEncoding::escape(key) + "=" +
                                 URLEncoding::escape(value.get_ref<const std::string&>()),
            "a top-level text is sent as it is, under its key");
    }
    index += leafCount(value);
  }
}

std::string withoutQueryAndFragment(const std::string& url) {
  return url.substr(0, std::min(url.find('?'), url.find('#')));
}

std::string fragmentPart(const std::string& url) {
  const auto hash = url.find('#');
  return hash == std::string::npos ? std::string() : url.substr(hash);
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  while (!line.empty()) {
    const auto blank = line.find(' ');
    out.push_back(line.substr(0, blank));
    line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
  }
  return out;
}

// "<method> <destination> <array encoding> <bool encoding>"; "-" is no method, missing
// or unknown words keep the defaults.
std::pair<std::string, URLEncoding> parseSettings(std::string_view line) {
  const auto w = words(line);
  const auto word = [&](std::size_t i) { return i < w.size() ? w[i] : std::string_view(); };
  std::string method = w.empty() ? "GET" : std::string(word(0));
  if (method == "-") method.clear();

  auto destination = URLEncoding::Destination::methodDependent;
  if (word(1) == "queryString") destination = URLEncoding::Destination::queryString;
  if (word(1) == "httpBody") destination = URLEncoding::Destination::httpBody;
  URLEncoding::ArrayEncoding arrays = URLEncoding::ArrayEncoding::brackets();
  if (word(2) == "noBrackets") arrays = URLEncoding::ArrayEncoding::noBrackets();
  if (word(2) == "indexInBrackets") arrays = URLEncoding::ArrayEncoding::indexInBrackets();
  if (word(2) == "custom") {
    arrays = URLEncoding::ArrayEncoding::custom(
        [](const std::string& key, std::size_t i) { return key + "<" + std::to_string(i) + ">"; });
  }
  const auto bools = word(3) == "literal" ? URLEncoding::BoolEncoding::literal
                                          : URLEncoding::BoolEncoding::numeric;
  return {std::move(method), URLEncoding(destination, std::move(arrays), bools)};
}

}  // namespace

// Input: a settings line, a URL line ("-" for none), a Content-Type line ("-" for none),
// then the parameters: "absent", JSON text, or any other bytes from which a parameter tree
// is built (so that kinds JSON text cannot spell, like raw bytes, are covered too).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = tolvane::fuzz::text(data, size);
  auto [method, encoding] = parseSettings(tolvane::fuzz::takeLine(text));
  const std::string_view urlLine = tolvane::fuzz::takeLine(text);
  const std::string_view contentTypeLine = tolvane::fuzz::takeLine(text);

  URLRequest request(urlLine == "-" ? std::nullopt : URL::parse(urlLine));
  request.httpMethod = method;
  if (contentTypeLine != "-") request.setValue(std::string(contentTypeLine), "content-TYPE");

  const std::string escapedText = URLEncoding::escape(urlLine);
  check(isEscaped(escapedText) && unescape(escapedText) == urlLine,
        "escape is reversible and query-safe");
  check((escapedText == urlLine) ==
            std::all_of(urlLine.begin(), urlLine.end(),
                        [](char c) { return isQuerySafe(static_cast<unsigned char>(c)); }),
        "only bytes outside the safe set are escaped");

  std::optional<Parameters> parameters;
  if (text != "absent") {
    parameters = Parameters::parse(text, nullptr, /*allow_exceptions=*/false);
    if (parameters->is_discarded()) {
      FuzzedDataProvider input(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
      parameters = input.ConsumeBool() ? makeValue(input, 3) : makeValue(input, 0);
      if (!parameters->is_object() && input.ConsumeBool()) {
        Parameters object = Parameters::object();
        object[input.ConsumeRandomLengthString(8)] = std::move(*parameters);
        parameters = std::move(object);
      }
    }
  }
  const auto result = encoding.encode(request, parameters);
  if (!parameters) {
    check(result.isSuccess() && result.value() == request, "absent parameters change nothing");
    return 0;
  }
  if (!parameters->is_object() && !parameters->is_null()) {
    check(result.isFailure() && result.error().isParameterEncodingError() &&
              result.error().parameterEncodingReason()->kind ==
                  HTTPError::ParameterEncodingFailureReason::Kind::customEncodingFailed,
          "parameters that are not a map are refused");
    return 0;
  }

  const bool queryMethod = method == "GET" || method == "HEAD" || method == "DELETE";
  const bool intoURL =
      !method.empty() &&
      (encoding.destination() == URLEncoding::Destination::queryString ||
       (encoding.destination() == URLEncoding::Destination::methodDependent && queryMethod));
  const std::string query = encoding.query(*parameters);
  checkQuery(query, *parameters);

  if (intoURL) {
    if (!request.url) {
      check(result.isFailure() && result.error().isParameterEncodingError() &&
                result.error().parameterEncodingReason()->kind ==
                    HTTPError::ParameterEncodingFailureReason::Kind::missingURL,
            "a query for a request without URL is missingURL");
      return 0;
    }
    check(result.isSuccess(), "encoding into the URL succeeds");
    const URLRequest& encoded = result.value();
    check(encoded.httpBody == request.httpBody &&
              encoded.allHTTPHeaderFields == request.allHTTPHeaderFields &&
              encoded.httpMethod == request.httpMethod,
          "a query leaves body, headers and method alone");
    if (parameters->empty()) {
      check(encoded == request, "no parameters leave the URL alone");
      return 0;
    }
    const std::string& before = request.url->absoluteString();
    const std::string& after = encoded.url->absoluteString();
    const auto existing = request.url->percentEncodedQuery();
    const std::string expectedQuery = (existing ? *existing + "&" : std::string()) + query;
    check(after == withoutQueryAndFragment(before) + "?" + expectedQuery + fragmentPart(before),
          "the query is appended and the rest of the URL kept");
    check(encoded.url->percentEncodedQuery() == expectedQuery, "the URL reports the new query");
    check(URL::parse(after).has_value(), "the new URL is a URL");
    return 0;
  }

  check(result.isSuccess(), "encoding into the body succeeds");
  const URLRequest& encoded = result.value();
  check(encoded.url == request.url && encoded.httpMethod == request.httpMethod,
        "a body leaves the URL alone");
  check(encoded.httpBody == query, "the body is the query text");
  const auto contentType = request.value("Content-Type");
  check(
      encoded.value("Content-Type") == (contentType ? *contentType : std::string(kFormContentType)),
      "a form Content-Type is added only when there is none");
  check(encoded.allHTTPHeaderFields.size() ==
            request.allHTTPHeaderFields.size() + (contentType ? 0 : 1),
        "no other header is touched");
  return 0;
}
