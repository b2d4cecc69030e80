#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::platform {

// An absolute URL (http, https or file), held in its normalised, percent-encoded text form.
// Parsing is lenient the way desktop platforms are: blanks, non-ASCII characters and other
// characters that may not appear in a URL are percent-encoded (as UTF-8) before parsing;
// a text without a scheme and host (for http/https) does not form a URL.
class URL {
 public:
  [[nodiscard]] static std::optional<URL> parse(std::string_view text);
  // file:// URL of an absolute local path (percent-encoded as needed).
  [[nodiscard]] static URL fileURL(const std::filesystem::path& path);

  // The whole URL as text, e.g. "https://host:8443/a%20b?x=1".
  [[nodiscard]] const std::string& absoluteString() const { return absolute_; }
  [[nodiscard]] std::string scheme() const;
  [[nodiscard]] std::string host() const;
  [[nodiscard]] std::optional<int> port() const;
  // The percent-encoded path ("/" when the URL has none).
  [[nodiscard]] std::string path() const;
  // The percent-encoded query without "?", or none when the URL has no "?".
  [[nodiscard]] std::optional<std::string> percentEncodedQuery() const;
  [[nodiscard]] std::optional<std::string> fragment() const;
  [[nodiscard]] bool isFileURL() const;
  // The decoded local path of a file URL.
  [[nodiscard]] std::filesystem::path filePath() const;
  // The last path component, percent-decoded ("" for "/").
  [[nodiscard]] std::string lastPathComponent() const;

  // The same URL with its query replaced (none removes the "?"); the query text is taken
  // as already percent-encoded.
  [[nodiscard]] URL withPercentEncodedQuery(const std::optional<std::string>& query) const;

  friend bool operator==(const URL&, const URL&) = default;

 private:
  explicit URL(std::string absolute) : absolute_(std::move(absolute)) {}
  std::string absolute_;
};

// Percent-encodes every byte of `text` that is not one of `allowed`, as "%" and two
// upper-case hex digits. Letters and digits are always allowed.
[[nodiscard]] std::string percentEncode(std::string_view text, std::string_view allowedPunctuation);
// Decodes %XX sequences; malformed sequences are kept as they are.
[[nodiscard]] std::string percentDecode(std::string_view text);

}  // namespace tolvane::platform
