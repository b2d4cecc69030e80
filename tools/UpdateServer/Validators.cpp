#include "UpdateServer/Validators.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "Platform/Text.h"

namespace tolvane::tools {

using platform::trimmed;

namespace {

std::string httpDate(std::time_t time) {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm utc{};
  ::gmtime_r(&time, &utc);
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "%s, %02d %s %04d %02d:%02d:%02d GMT",
                kDays.at(static_cast<std::size_t>(utc.tm_wday)), utc.tm_mday,
                kMonths.at(static_cast<std::size_t>(utc.tm_mon)), utc.tm_year + 1900, utc.tm_hour,
                utc.tm_min, utc.tm_sec);
  return text.data();
}

}  // namespace

Validators::Validators(const struct stat& status) {
  const auto modified = static_cast<unsigned long long>(status.st_mtim.tv_sec) * 1'000'000'000ULL +
                        static_cast<unsigned long long>(status.st_mtim.tv_nsec);
  std::array<char, 80> tag{};
  std::snprintf(tag.data(), tag.size(), "\"%llx-%llx-%llx\"",
                static_cast<unsigned long long>(status.st_size), modified,
                static_cast<unsigned long long>(status.st_ino));
  etag = tag.data();
  lastModified = httpDate(status.st_mtim.tv_sec);
  lastModifiedIsStrong = std::time(nullptr) > status.st_mtim.tv_sec + 1;
}

bool Validators::matchesAny(std::string_view list) const {
  if (trimmed(list) == "*") {
    return true;
  }
  const std::string_view opaque = std::string_view(etag);
  while (!list.empty()) {
    const auto comma = list.find(',');
    std::string_view tag = trimmed(list.substr(0, comma));
    if (tag.substr(0, 2) == "W/") {
      tag.remove_prefix(2);
    }
    if (tag == opaque) {
      return true;
    }
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return false;
}

bool Validators::matchesForRange(std::string_view validator) const {
  validator = trimmed(validator);
  if (validator.substr(0, 2) == "W/") {
    return false;
  }
  if (!validator.empty() && validator.front() == '"') {
    return validator == etag;
  }
  return lastModifiedIsStrong && validator == lastModified;
}

}  // namespace tolvane::tools
