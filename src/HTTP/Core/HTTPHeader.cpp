#include "HTTP/Core/HTTPHeader.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "Platform/Base64.h"
#include "Platform/Bundle.h"
#include "Platform/OperatingSystem.h"

namespace tolvane::http {
namespace {

// Shortest text that reads back as the same double, always with a fractional part
// ("1.0", not "1"), the way the platform prints doubles.
std::string shortestText(double value) {
  std::array<char, 64> buffer{};
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  std::string text(buffer.data(), ec == std::errc() ? end : buffer.data());
  if (text.find_first_of(".en") == std::string::npos) text += ".0";
  return text;
}

// "ru_RU.UTF-8@euro" -> "ru-RU"; none for the C locale and empty names.
std::optional<std::string> languageTag(std::string_view localeName) {
  const auto cut = localeName.find_first_of(".@");
  std::string tag(localeName.substr(0, cut));
  if (tag.empty() || tag == "C" || tag == "POSIX") return std::nullopt;
  for (char& c : tag) {
    if (c == '_') c = '-';
  }
  return tag;
}

std::string textOr(const nlohmann::json& info, const char* key, std::string fallback) {
  if (info.is_object()) {
    const auto it = info.find(key);
    if (it != info.end() && it->is_string()) return it->get<std::string>();
  }
  return fallback;
}

std::optional<std::string> processFirstArgument() {
  const auto arguments = platform::os::commandLine();
  if (arguments.empty()) return std::nullopt;
  return arguments.front();
}

}  // namespace

HTTPHeader HTTPHeader::accept(std::string value) { return {"Accept", std::move(value)}; }
HTTPHeader HTTPHeader::acceptCharset(std::string value) {
  return {"Accept-Charset", std::move(value)};
}
HTTPHeader HTTPHeader::acceptLanguage(std::string value) {
  return {"Accept-Language", std::move(value)};
}
HTTPHeader HTTPHeader::acceptEncoding(std::string value) {
  return {"Accept-Encoding", std::move(value)};
}
HTTPHeader HTTPHeader::authorization(std::string value) {
  return {"Authorization", std::move(value)};
}
HTTPHeader HTTPHeader::authorizationBearer(std::string_view bearerToken) {
  return authorization("Bearer " + std::string(bearerToken));
}
HTTPHeader HTTPHeader::authorization(std::string_view username, std::string_view password) {
  return authorization("Basic " +
                       platform::encodeBase64(std::string(username) + ":" + std::string(password)));
}
HTTPHeader HTTPHeader::contentDisposition(std::string value) {
  return {"Content-Disposition", std::move(value)};
}
HTTPHeader HTTPHeader::contentEncoding(std::string value) {
  return {"Content-Encoding", std::move(value)};
}
HTTPHeader HTTPHeader::contentType(std::string value) { return {"Content-Type", std::move(value)}; }
HTTPHeader HTTPHeader::userAgent(std::string value) { return {"User-Agent", std::move(value)}; }
HTTPHeader HTTPHeader::websocketProtocol(std::string value) {
  return {"Sec-WebSocket-Protocol", std::move(value)};
}

std::string HTTPHeader::qualityEncoded(const std::vector<std::string>& tokens) {
  std::string out;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    // A separate multiply and add (no fused multiply-add): the figures must round exactly
    // as 1.0, 0.9, ... 0.5; `volatile` keeps the compiler from contracting the two.
    volatile double product = static_cast<double>(i) * -0.1;
    const double quality = product + 1.0;
    if (i > 0) out += ", ";
    out += tokens[i] + ";q=" + shortestText(quality);
  }
  return out;
}

std::vector<std::string> HTTPHeader::preferredLanguages(const EnvironmentLookup& lookup) {
  std::vector<std::string> languages;
  auto add = [&](std::string_view localeName) {
    auto tag = languageTag(localeName);
    if (tag && std::find(languages.begin(), languages.end(), *tag) == languages.end()) {
      languages.push_back(std::move(*tag));
    }
  };
  if (const auto list = lookup("LANGUAGE")) {
    std::string_view rest = *list;
    while (!rest.empty()) {
      const auto colon = rest.find(':');
      add(rest.substr(0, colon));
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const auto value = lookup(name);
    if (value && !value->empty()) {
      add(*value);
      break;
    }
  }
  return languages;
}

std::string HTTPHeader::acceptLanguageValue(const std::vector<std::string>& languages) {
  constexpr std::size_t kMaximumLanguages = 6;
  const std::vector<std::string> first(
      languages.begin(), languages.begin() + static_cast<std::ptrdiff_t>(
                                                 std::min(languages.size(), kMaximumLanguages)));
  return qualityEncoded(first);
}

std::string HTTPHeader::osNameVersion(std::string_view kernelRelease) {
  std::array<unsigned long, 3> numbers{0, 0, 0};
  std::size_t position = 0;
  for (std::size_t n = 0; n < numbers.size(); ++n) {
    const char* begin = kernelRelease.data() + position;
    const char* end = kernelRelease.data() + kernelRelease.size();
    const auto [next, ec] = std::from_chars(begin, end, numbers[n]);
    if (ec != std::errc()) {
      numbers[n] = 0;
      break;
    }
    position = static_cast<std::size_t>(next - kernelRelease.data());
    if (position >= kernelRelease.size() || kernelRelease[position] != '.') break;
    ++position;
  }
  return "Linux " + std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
         std::to_string(numbers[2]);
}

std::string HTTPHeader::userAgentValue(const nlohmann::json& info,
                                       const std::optional<std::string>& argv0,
                                       const std::string& osNameVersion) {
  std::string fallbackExecutable = "Unknown";
  if (argv0) {
    std::string_view path = *argv0;
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (!last.empty()) fallbackExecutable = std::string(last);
  }
  const std::string executable = textOr(info, "CFBundleExecutable", fallbackExecutable);
  const std::string bundle = textOr(info, "CFBundleIdentifier", "Unknown");
  const std::string appVersion = textOr(info, "CFBundleShortVersionString", "Unknown");
  const std::string appBuild = textOr(info, "CFBundleVersion", "Unknown");
  return executable + "/" + appVersion + " (" + bundle + "; build:" + appBuild + "; " +
         osNameVersion + ") TolvaneHTTP/" + std::string(kHTTPLayerVersion);
}

const HTTPHeader& HTTPHeader::defaultAcceptEncoding() {
  static const HTTPHeader header = acceptEncoding(qualityEncoded({"br", "gzip", "deflate"}));
  return header;
}

const HTTPHeader& HTTPHeader::defaultAcceptLanguage() {
  static const HTTPHeader header = acceptLanguage(acceptLanguageValue(
      preferredLanguages([](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        return value ? std::optional<std::string>(value) : std::nullopt;
      })));
  return header;
}

const HTTPHeader& HTTPHeader::defaultUserAgent() {
  static const HTTPHeader header = [] {
    utsname system{};
    const std::string release = uname(&system) == 0 ? system.release : "";
    const auto info = platform::Bundle::main().infoDictionary();
    return userAgent(userAgentValue(info.value_or(nlohmann::json()), processFirstArgument(),
                                    osNameVersion(release)));
  }();
  return header;
}

}  // namespace tolvane::http
