#include "Installer/FileModel.h"

#include <utf8proc.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>

#include "Platform/DecodingError.h"

namespace tolvane {
namespace {

using nlohmann::json;
using platform::DecodingError;

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};

// Canonical decomposition makes canonically equivalent texts byte-identical. The length is
// passed so that an embedded NUL (JSON "\u0000") does not end the text early: "a\0b" and
// "a\0c" must stay different.
std::optional<std::string> normalized(const std::string& text) {
  utf8proc_uint8_t* raw = nullptr;
  const utf8proc_ssize_t length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &raw,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE));
  std::unique_ptr<utf8proc_uint8_t, FreeDeleter> result(raw);
  if (length < 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(length));
}

bool canonicallyEqual(const std::string& lhs, const std::string& rhs) {
  if (lhs == rhs) return true;
  const auto a = normalized(lhs);
  const auto b = normalized(rhs);
  // Text that is not valid UTF-8 has no canonical form; only identical bytes match.
  if (!a || !b) return false;
  return *a == *b;
}

const json& member(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) {
    throw DecodingError(DecodingError::Kind::keyNotFound,
                        std::string("No value for key \"") + key + "\"");
  }
  if (it->is_null()) {
    throw DecodingError(DecodingError::Kind::valueNotFound,
                        std::string("Null value for key \"") + key + "\"");
  }
  return *it;
}

std::string stringMember(const json& object, const char* key) {
  const json& value = member(object, key);
  if (!value.is_string()) {
    throw DecodingError(DecodingError::Kind::typeMismatch,
                        std::string("Expected a string for key \"") + key + "\"");
  }
  return value.get<std::string>();
}

std::int64_t int64Member(const json& object, const char* key) {
  const json& value = member(object, key);
  const auto mismatch = [key](const char* why) {
    return DecodingError(DecodingError::Kind::typeMismatch,
                         std::string(why) + " for key \"" + key + "\"");
  };
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_number_unsigned()) {
    const auto unsignedValue = value.get<std::uint64_t>();
    if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      throw mismatch("Number does not fit in a 64-bit integer");
    }
    return static_cast<std::int64_t>(unsignedValue);
  }
  if (value.is_number_float()) {
    const double d = value.get<double>();
    // 2^63 is exactly representable; anything at or above it does not fit.
    if (!std::isfinite(d) || std::trunc(d) != d || d < -9223372036854775808.0 ||
        d >= 9223372036854775808.0) {
      throw mismatch("Number is not an integer that fits in 64 bits");
    }
    return static_cast<std::int64_t>(d);
  }
  throw mismatch("Expected an integer");
}

}  // namespace

FileModel FileModel::fromJSON(const json& object) {
  if (!object.is_object()) {
    throw DecodingError(DecodingError::Kind::typeMismatch, "Expected an object for a file entry");
  }
  FileModel model;
  model.path = stringMember(object, "path");
  model.hash = stringMember(object, "hash");
  model.size = int64Member(object, "size");
  return model;
}

FileModel FileModel::decode(std::string_view jsonText) {
  json parsed = json::parse(jsonText, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, "The given data was not valid JSON");
  }
  return fromJSON(parsed);
}

nlohmann::ordered_json FileModel::toJSON() const {
  nlohmann::ordered_json object;
  object["path"] = path;
  object["hash"] = hash;
  object["size"] = size;
  return object;
}

std::optional<std::string> FileModel::encode() const {
  try {
    return toJSON().dump();
  } catch (const nlohmann::json::type_error&) {
    return std::nullopt;  // invalid UTF-8
  }
}

bool operator==(const FileModel& lhs, const FileModel& rhs) {
  return canonicallyEqual(lhs.path, rhs.path) && canonicallyEqual(lhs.hash, rhs.hash) &&
         lhs.size == rhs.size;
}

}  // namespace tolvane
