#include "Platform/ResumeData.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace tolvane::platform {
namespace {
constexpr const char* kFormat = "tolvane.download-resume.1";
}  // namespace

Data ResumeData::encoded() const {
  nlohmann::json headers = nlohmann::json::array();
  for (const auto& [name, value] : request.allHTTPHeaderFields) headers.push_back({name, value});
  nlohmann::json document{
      {"format", kFormat},
      {"url", request.url ? request.url->absoluteString() : std::string()},
      {"method", request.httpMethod},
      {"headers", headers},
      {"timeout", request.timeoutInterval},
      {"file", temporaryFile.string()},
      {"bytes", bytesReceived},
      {"validator", validator},
      {"length", completeLength},
  };
  if (request.downloadDirectory) document["directory"] = request.downloadDirectory->string();
  return document.dump();
}

std::optional<ResumeData> ResumeData::decode(const Data& data) {
  const auto document = nlohmann::json::parse(data, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object() || document.value("format", "") != kFormat) return std::nullopt;
  try {
    ResumeData result;
    result.request = URLRequest(URL::parse(document.at("url").get<std::string>()));
    if (!result.request.url) return std::nullopt;
    result.request.httpMethod = document.at("method").get<std::string>();
    for (const auto& entry : document.at("headers")) {
      result.request.setValue(entry.at(1).get<std::string>(), entry.at(0).get<std::string>());
    }
    // Resume data is input: a time-out that is no sensible number of seconds is not taken.
    const double timeout = document.at("timeout").get<double>();
    result.request.timeoutInterval = std::isfinite(timeout) && timeout > 0
                                         ? std::min(timeout, URLRequest::kMaximumTimeoutInterval)
                                         : URLRequest::kDefaultTimeoutInterval;
    if (document.contains("directory"))
      result.request.downloadDirectory = document.at("directory").get<std::string>();
    result.temporaryFile = document.at("file").get<std::string>();
    result.bytesReceived = document.at("bytes").get<std::int64_t>();
    result.validator = document.at("validator").get<std::string>();
    result.completeLength = document.at("length").get<std::int64_t>();
    if (result.bytesReceived < 0 || result.completeLength < result.bytesReceived ||
        result.temporaryFile.empty() || result.validator.empty())
      return std::nullopt;
    return result;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

std::optional<std::string> ifRangeValidator(const HeaderFields& fields) {
  if (auto tag = fields.value("ETag")) {
    if (tag->empty() || tag->rfind("W/", 0) == 0) return std::nullopt;
    return tag;
  }
  auto modified = fields.value("Last-Modified");
  const auto date = fields.value("Date");
  if (!modified || !date) return std::nullopt;
  // libcurl reads all three date forms a recipient must accept; -1 when it cannot.
  const time_t modifiedAt = curl_getdate(modified->c_str(), nullptr);
  const time_t answeredAt = curl_getdate(date->c_str(), nullptr);
  if (modifiedAt < 0 || answeredAt < 0 || answeredAt - modifiedAt < 1) return std::nullopt;
  return modified;
}

}  // namespace tolvane::platform
