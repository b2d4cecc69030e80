#include "Platform/URL.h"

#include <curl/curl.h>

#include <memory>

namespace tolvane::platform {
namespace {

struct CurlUrlDeleter {
  void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};

std::optional<std::string> getPart(CURLU* handle, CURLUPart part, unsigned flags = 0) {
  char* raw = nullptr;
  if (curl_url_get(handle, part, &raw, flags) != CURLUE_OK || raw == nullptr) {
    return std::nullopt;
  }
  std::unique_ptr<char, CurlStringDeleter> owned(raw);
  return std::string(raw);
}

CurlUrl parseHandle(const std::string& text) {
  CurlUrl handle(curl_url());
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
    return nullptr;
  }
  return handle;
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

bool isUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Characters that may stand unescaped somewhere in a URL; everything else (blanks,
// controls, quotes, non-ASCII bytes) is encoded before the text is parsed.
constexpr std::string_view kURLPunctuation = "-._~:/?#[]@!$&'()*+,;=%";

}  // namespace

std::string percentEncode(std::string_view text, std::string_view allowedPunctuation) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (isUnreserved(c) ||
        allowedPunctuation.find(static_cast<char>(c)) != std::string_view::npos) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && isHexDigit(text[i + 1]) &&
        isHexDigit(text[i + 2])) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::optional<URL> URL::parse(std::string_view text) {
  if (text.empty()) {
    return std::nullopt;
  }
  const std::string encoded = percentEncode(text, kURLPunctuation);
  CurlUrl handle = parseHandle(encoded);
  if (!handle) {
    return std::nullopt;
  }
  const auto scheme = getPart(handle.get(), CURLUPART_SCHEME);
  if (!scheme || (*scheme != "http" && *scheme != "https" && *scheme != "file")) {
    return std::nullopt;
  }
  auto absolute = getPart(handle.get(), CURLUPART_URL);
  if (!absolute) {
    return std::nullopt;
  }
  return URL(std::move(*absolute));
}

URL URL::fileURL(const std::filesystem::path& path) {
  const std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
  return URL("file://" + percentEncode(absolute, "-._~/!$&'()*+,;=:@"));
}

std::string URL::scheme() const {
  CurlUrl handle = parseHandle(absolute_);
  return handle ? getPart(handle.get(), CURLUPART_SCHEME).value_or("") : "";
}

std::string URL::host() const {
  CurlUrl handle = parseHandle(absolute_);
  return handle ? getPart(handle.get(), CURLUPART_HOST).value_or("") : "";
}

std::optional<int> URL::port() const {
  CurlUrl handle = parseHandle(absolute_);
  if (!handle) return std::nullopt;
  const auto text = getPart(handle.get(), CURLUPART_PORT);
  if (!text) return std::nullopt;
  return std::stoi(*text);
}

std::string URL::path() const {
  CurlUrl handle = parseHandle(absolute_);
  return handle ? getPart(handle.get(), CURLUPART_PATH).value_or("/") : "/";
}

std::optional<std::string> URL::percentEncodedQuery() const {
  // libcurl reports an empty query ("x?") as absent; keep the distinction ourselves.
  // The query ends at the fragment; a "?" inside the fragment belongs to the fragment.
  const auto hash = absolute_.find('#');
  const auto question = absolute_.find('?');
  if (question == std::string::npos || question > hash) return std::nullopt;
  return absolute_.substr(question + 1,
                          hash == std::string::npos ? std::string::npos : hash - question - 1);
}

std::optional<std::string> URL::fragment() const {
  const auto hash = absolute_.find('#');
  if (hash == std::string::npos) return std::nullopt;
  return absolute_.substr(hash + 1);
}

bool URL::isFileURL() const { return absolute_.rfind("file:", 0) == 0; }

std::filesystem::path URL::filePath() const { return percentDecode(path()); }

std::string URL::lastPathComponent() const {
  std::string p = path();
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  const std::string last = slash == std::string::npos ? p : p.substr(slash + 1);
  return percentDecode(last);
}

URL URL::withPercentEncodedQuery(const std::optional<std::string>& query) const {
  const auto hash = absolute_.find('#');
  const std::string withoutFragment = absolute_.substr(0, hash);
  const std::string fragmentPart = hash == std::string::npos ? "" : absolute_.substr(hash);
  const auto question = withoutFragment.find('?');
  std::string base = withoutFragment.substr(0, question);
  if (query) {
    base += "?" + *query;
  }
  return URL(base + fragmentPart);
}

}  // namespace tolvane::platform
