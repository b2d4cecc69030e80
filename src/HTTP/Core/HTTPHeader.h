#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tolvane::http {

// One header: a name and a value, compared as exact (case-sensitive) texts. Plain value.
struct HTTPHeader {
  std::string name;
  std::string value;

  // "Name: value".
  [[nodiscard]] std::string description() const { return name + ": " + value; }

  friend bool operator==(const HTTPHeader&, const HTTPHeader&) = default;

  [[nodiscard]] static HTTPHeader accept(std::string value);
  [[nodiscard]] static HTTPHeader acceptCharset(std::string value);
  [[nodiscard]] static HTTPHeader acceptLanguage(std::string value);
  [[nodiscard]] static HTTPHeader acceptEncoding(std::string value);
  [[nodiscard]] static HTTPHeader authorization(std::string value);
  // "Bearer " + token (a name of its own: the one-text overload takes a whole value).
  [[nodiscard]] static HTTPHeader authorizationBearer(std::string_view bearerToken);
  // "Basic " + Base64 of the UTF-8 bytes of "username:password".
  [[nodiscard]] static HTTPHeader authorization(std::string_view username,
                                                std::string_view password);
  [[nodiscard]] static HTTPHeader contentDisposition(std::string value);
  [[nodiscard]] static HTTPHeader contentEncoding(std::string value);
  [[nodiscard]] static HTTPHeader contentType(std::string value);
  [[nodiscard]] static HTTPHeader userAgent(std::string value);
  [[nodiscard]] static HTTPHeader websocketProtocol(std::string value);

  // The defaults every session sends; each computed once (thread-safe) and then shared.
  // "br;q=1.0, gzip;q=0.9, deflate;q=0.8".
  [[nodiscard]] static const HTTPHeader& defaultAcceptEncoding();
  // From the user's locale settings (see preferredLanguages).
  [[nodiscard]] static const HTTPHeader& defaultAcceptLanguage();
  // From the bundle information, the launch path and the running system (see userAgentValue).
  [[nodiscard]] static const HTTPHeader& defaultUserAgent();

  // Building blocks of the defaults, with their inputs passed in so they can be checked.

  // "t0;q=1.0, t1;q=0.9, ..." for the tokens in order.
  [[nodiscard]] static std::string qualityEncoded(const std::vector<std::string>& tokens);
  // The user's language tags, most preferred first, without duplicates: the colon list of
  // LANGUAGE, then the first set and non-empty of LC_ALL, LC_MESSAGES, LANG. A POSIX locale
  // name becomes a tag ("ru_RU.UTF-8" -> "ru-RU"); "C" and "POSIX" are not languages.
  using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
  [[nodiscard]] static std::vector<std::string> preferredLanguages(const EnvironmentLookup& lookup);
  // The first six preferred languages as a quality-value list ("" when there are none).
  [[nodiscard]] static std::string acceptLanguageValue(const std::vector<std::string>& languages);
  // "Linux x.y.z" from a kernel release text such as "6.1.0-18-amd64" (missing numbers 0).
  [[nodiscard]] static std::string osNameVersion(std::string_view kernelRelease);
  // executable "/" version " (" identifier "; build:" build "; " os ") TolvaneHTTP/1.0.0".
  // `info` is the bundle information (any JSON; non-text values count as missing);
  // `argv0` the first process argument, if there is one.
  [[nodiscard]] static std::string userAgentValue(const nlohmann::json& info,
                                                  const std::optional<std::string>& argv0,
                                                  const std::string& osNameVersion);
};

// The version of this HTTP layer, carried in the User-Agent.
inline constexpr std::string_view kHTTPLayerVersion = "1.0.0";

}  // namespace tolvane::http

template <>
struct std::hash<tolvane::http::HTTPHeader> {
  std::size_t operator()(const tolvane::http::HTTPHeader& header) const noexcept {
    const std::size_t h = std::hash<std::string>{}(header.name);
    return h ^
           (std::hash<std::string>{}(header.value) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  }
};
