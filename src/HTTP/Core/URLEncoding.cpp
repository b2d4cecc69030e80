#include "HTTP/Core/URLEncoding.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "HTTP/Core/HTTPError.h"

namespace tolvane::http {
namespace {

// Parameters handed in as something other than a map (a list, a text, ...): the encoding
// cannot name them, so it reports the shape instead of guessing.
class ParametersNotAMapError final : public platform::Error {
 public:
  explicit ParametersNotAMapError(std::string typeName) : typeName_(std::move(typeName)) {}
  [[nodiscard]] std::string localizedDescription() const override {
    return "Parameters must be a map of names to values, not a " + typeName_ + ".";
  }

 private:
  std::string typeName_;
};

// Number texts as the platform's number objects print them: integers in decimal, other
// values in the shortest form that reads back the same ("0.5", "1", "1e+21").
std::string numberText(const Parameters& value) {
  if (value.is_number_unsigned()) return std::to_string(value.get<std::uint64_t>());
  if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
  std::array<char, 64> buffer{};
  const auto [end, ec] =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value.get<double>());
  return ec == std::errc() ? std::string(buffer.data(), end) : std::string();
}

}  // namespace

std::string URLEncoding::ArrayEncoding::encode(const std::string& key, std::size_t index) const {
  switch (kind_) {
    case Kind::brackets:
      return key + "[]";
    case Kind::noBrackets:
      return key;
    case Kind::indexInBrackets:
      return key + "[" + std::to_string(index) + "]";
    case Kind::custom:
      return function_ ? function_(key, index) : key;
  }
  return key;
}

URLEncoding::URLEncoding(Destination destination, ArrayEncoding arrayEncoding,
                         BoolEncoding boolEncoding)
    : destination_(destination),
      arrayEncoding_(std::move(arrayEncoding)),
      boolEncoding_(boolEncoding) {}

std::string URLEncoding::escape(std::string_view text) {
  // The query-allowed set without ":#[]@!$&'()*+,;=": unreserved characters plus "/" and
  // "?". Encoding works on bytes, so any text (even invalid UTF-8) can be escaped.
  return platform::percentEncode(text, "-._~/?");
}

void URLEncoding::appendComponents(const std::string& key, const Parameters& value,
                                   std::vector<std::pair<std::string, std::string>>& out) const {
  if (value.is_object()) {
    for (const auto& [nestedKey, nestedValue] : value.items()) {
      appendComponents(key + "[" + nestedKey + "]", nestedValue, out);
    }
  } else if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) {
      appendComponents(arrayEncoding_.encode(key, i), value[i], out);
    }
  } else if (value.is_boolean()) {
    const bool flag = value.get<bool>();
    const char* text =
        boolEncoding_ == BoolEncoding::numeric ? (flag ? "1" : "0") : (flag ? "true" : "false");
    out.emplace_back(escape(key), escape(text));
  } else if (value.is_number()) {
    out.emplace_back(escape(key), escape(numberText(value)));
  } else if (value.is_string()) {
    out.emplace_back(escape(key), escape(value.get_ref<const std::string&>()));
  } else if (value.is_binary()) {
    const auto& bytes = value.get_binary();
    out.emplace_back(escape(key), escape(std::string(bytes.begin(), bytes.end())));
  } else {
    // null: its JSON text, as the default text form of any other value.
    out.emplace_back(escape(key), escape("null"));
  }
}

std::vector<std::pair<std::string, std::string>> URLEncoding::queryComponents(
    const std::string& key, const Parameters& value) const {
  std::vector<std::pair<std::string, std::string>> out;
  appendComponents(key, value, out);
  return out;
}

std::string URLEncoding::query(const Parameters& parameters) const {
  if (!parameters.is_object()) return {};
  std::vector<const std::string*> keys;
  keys.reserve(parameters.size());
  for (const auto& [key, value] : parameters.items()) keys.push_back(&key);
  // Byte-wise order, which for UTF-8 is the order of code points.
  std::sort(keys.begin(), keys.end(),
            [](const std::string* a, const std::string* b) { return *a < *b; });

  std::vector<std::pair<std::string, std::string>> components;
  for (const std::string* key : keys) appendComponents(*key, parameters.at(*key), components);

  std::string out;
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) out += "&";
    out += components[i].first + "=" + components[i].second;
  }
  return out;
}

Result<platform::URLRequest> URLEncoding::encode(
    platform::URLRequest request, const std::optional<Parameters>& parameters) const {
  if (!parameters) return request;
  if (!parameters->is_object() && !parameters->is_null()) {
    return HTTPError::parameterEncodingFailed(
        HTTPError::ParameterEncodingFailureReason::customEncodingFailed(
            platform::makeError(ParametersNotAMapError(parameters->type_name()))));
  }

  const std::string& method = request.httpMethod;
  const bool methodTakesQuery = method == HTTPMethod::get.rawValue() ||
                                method == HTTPMethod::head.rawValue() ||
                                method == HTTPMethod::delete_.rawValue();
  const bool intoURL =
      !method.empty() && (destination_ == Destination::queryString ||
                          (destination_ == Destination::methodDependent && methodTakesQuery));

  if (intoURL) {
    if (!request.url) {
      return HTTPError::parameterEncodingFailed(
          HTTPError::ParameterEncodingFailureReason::missingURL());
    }
    if (parameters->empty()) return request;
    const auto existing = request.url->percentEncodedQuery();
    const std::string newQuery = (existing ? *existing + "&" : std::string()) + query(*parameters);
    request.url = request.url->withPercentEncodedQuery(newQuery);
    return request;
  }

  if (!request.value("Content-Type")) {
    request.setValue("application/x-www-form-urlencoded; charset=utf-8", "Content-Type");
  }
  request.httpBody = query(*parameters);
  return request;
}

}  // namespace tolvane::http
