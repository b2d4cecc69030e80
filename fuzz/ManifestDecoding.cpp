// Feeds arbitrary bytes to the manifest decoders as JSON text. Decoding may only fail with
// DecodingError, must accept exactly the well-formed manifests, must keep what it decoded
// byte for byte, and an entry must equal its other normalisation forms (exact equality of
// unlike entries is checked by FileModelTest).
#include <utf8proc.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "Installer/FileModel.h"
#include "Installer/LoaderModel.h"
#include "Invariant.h"
#include "Platform/DecodingError.h"

namespace {

using nlohmann::json;
using tolvane::FileModel;
using tolvane::LoaderModel;
using tolvane::platform::DecodingError;

using tolvane::fuzz::check;
using tolvane::fuzz::fail;

// What the decoder must accept for "size": an integral JSON number within int64.
std::optional<std::int64_t> integralSize(const json& value) {
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return std::nullopt;
    return static_cast<std::int64_t>(u);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (!std::isfinite(d) || std::floor(d) != d) return std::nullopt;
    if (d < -std::ldexp(1.0, 63) || d >= std::ldexp(1.0, 63)) return std::nullopt;
    return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

bool wellFormedEntry(const json& entry) {
  if (!entry.is_object()) return false;
  const auto path = entry.find("path");
  const auto hash = entry.find("hash");
  const auto size = entry.find("size");
  return path != entry.end() && path->is_string() && hash != entry.end() && hash->is_string() &&
         size != entry.end() && integralSize(*size).has_value();
}

bool wellFormedManifest(const json& document) {
  if (!document.is_object()) return false;
  const auto files = document.find("files");
  if (files == document.end() || !files->is_array()) return false;
  for (const auto& entry : *files) {
    if (!wellFormedEntry(entry)) return false;
  }
  return true;
}

void checkDecodedEntry(const FileModel& model, const json& entry) {
  check(model.path == entry.at("path").get_ref<const std::string&>(), "path kept byte for byte");
  check(model.hash == entry.at("hash").get_ref<const std::string&>(), "hash kept byte for byte");
  check(model.size == *integralSize(entry.at("size")), "size kept by value");
}

// The text in another normalisation form (composed or decomposed), by length so that
// embedded NULs take part; nothing for text utf8proc rejects.
std::optional<std::string> normalizedForm(const std::string& text, bool compose) {
  utf8proc_uint8_t* raw = nullptr;
  const int options = UTF8PROC_STABLE | (compose ? UTF8PROC_COMPOSE : UTF8PROC_DECOMPOSE);
  const utf8proc_ssize_t length = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
      static_cast<utf8proc_ssize_t>(text.size()), &raw, static_cast<utf8proc_option_t>(options));
  std::optional<std::string> form;
  if (length >= 0)
    form.emplace(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(length));
  std::free(raw);
  return form;
}

void checkEntry(const FileModel& model) {
  // Composed and decomposed spellings of the same texts are the same entry.
  for (const bool compose : {true, false}) {
    const auto path = normalizedForm(model.path, compose);
    const auto hash = normalizedForm(model.hash, compose);
    if (!path || !hash) continue;
    FileModel other = model;
    other.path = *path;
    other.hash = *hash;
    check(model == other, "canonically equivalent entry compares equal");
  }

  // A decoded entry holds valid UTF-8, so it always encodes, and reads back the same.
  const auto encoded = model.encode();
  check(encoded.has_value(), "a decoded entry encodes");
  FileModel again;
  try {
    again = FileModel::decode(*encoded);
  } catch (const DecodingError&) {
    fail("an encoded entry decodes");
  }
  check(again.path == model.path && again.hash == model.hash && again.size == model.size,
        "encoding round trip keeps the bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = tolvane::fuzz::text(data, size);
  const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);

  std::optional<LoaderModel> manifest;
  try {
    manifest = LoaderModel::decode(text);
  } catch (const DecodingError&) {
  }
  check(manifest.has_value() == (!document.is_discarded() && wellFormedManifest(document)),
        "the manifest decodes exactly when it is well formed");

  std::optional<FileModel> single;
  try {
    single = FileModel::decode(text);
  } catch (const DecodingError&) {
  }
  check(single.has_value() == (!document.is_discarded() && wellFormedEntry(document)),
        "a stored entry decodes exactly when it is well formed");

  if (single) {
    checkDecodedEntry(*single, document);
    checkEntry(*single);
  }
  if (manifest) {
    const json& files = document.at("files");
    check(manifest->files.size() == files.size(), "every entry is decoded, in order");
    for (std::size_t i = 0; i < manifest->files.size(); ++i) {
      checkDecodedEntry(manifest->files[i], files[i]);
      checkEntry(manifest->files[i]);
    }
  }
  return 0;
}
