#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Platform/Data.h"
#include "Platform/HeaderFields.h"
#include "Platform/URL.h"

namespace tolvane::platform {

// What the transport is asked to fetch: a plain value, copied freely.
struct URLRequest {
  enum class CachePolicy { useProtocolCachePolicy, reloadIgnoringLocalCacheData };

  static constexpr double kDefaultTimeoutInterval = 60.0;
  // A longer time-out is taken as this one: a week without a byte is no transfer any more.
  static constexpr double kMaximumTimeoutInterval = 7 * 24 * 3600.0;

  URLRequest() = default;
  explicit URLRequest(std::optional<URL> url) : url(std::move(url)) {}

  std::optional<URL> url;
  std::string httpMethod = "GET";
  HeaderFields allHTTPHeaderFields;
  std::optional<Data> httpBody;
  // Seconds without any bytes moving before the transfer fails with a time-out; not a
  // limit on the whole transfer.
  double timeoutInterval = kDefaultTimeoutInterval;
  // A body longer than this many bytes is refused: the transfer stops as soon as the length
  // is announced or passed and fails with URLError::dataLengthExceedsMaximum, so a broken or
  // hostile server cannot fill memory. None: no limit.
  std::optional<std::int64_t> maximumBodyLength;
  CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy;
  // Where a download task keeps the file it writes; the system's temporary folder when
  // none. A caller that wants a partial file to outlive the process picks a folder of its
  // own, on the file system where the finished file will go.
  std::optional<std::filesystem::path> downloadDirectory;

  [[nodiscard]] std::optional<std::string> value(std::string_view headerField) const {
    return allHTTPHeaderFields.value(headerField);
  }
  void setValue(std::optional<std::string> value, std::string_view headerField) {
    allHTTPHeaderFields.setValue(std::move(value), headerField);
  }

  friend bool operator==(const URLRequest&, const URLRequest&) = default;
};

}  // namespace tolvane::platform
