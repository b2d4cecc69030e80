#include "Platform/ResponseHead.h"

#include <algorithm>
#include <cstdlib>

#include "Platform/Text.h"

namespace tolvane::platform {

bool ResponseHeadReader::take(std::string_view line) {
  if (complete_ || line.empty()) return false;
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line: a new response (after an interim 1xx one).
    const auto space = line.find(' ');
    statusCode_ = space == std::string_view::npos
                      ? 0
                      : std::atoi(std::string(line.substr(space + 1, 3)).c_str());
    fields_ = HeaderFields();
    return false;
  }
  if (line == "\r\n" || line == "\n") {
    if (statusCode_ >= 100 && statusCode_ < 200) return false;
    complete_ = true;
    return true;
  }
  if (line.front() == ' ' || line.front() == '\t') return false;  // obsolete folding
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view name = trimmed(line.substr(0, colon));
  const std::string_view value = trimmed(line.substr(colon + 1));
  // Repeated fields combine into one list, where an empty element adds nothing.
  if (const auto existing = fields_.value(name); existing && (value.empty() || existing->empty())) {
    if (!value.empty()) fields_.setValue(std::string(value), name);
    return false;
  }
  fields_.addValue(std::string(value), name);
  return false;
}

HTTPURLResponse describeResponse(URL url, int statusCode, HeaderFields fields,
                                 std::int64_t expectedContentLength) {
  HTTPURLResponse head{
      std::move(url), statusCode, std::move(fields), expectedContentLength, std::nullopt,
      std::nullopt,   {}};
  if (auto type = head.allHeaderFields.value("Content-Type")) {
    const auto semicolon = type->find(';');
    std::string media = lowercased(trimmed(std::string_view(*type).substr(0, semicolon)));
    if (!media.empty()) head.mimeType = std::move(media);
    if (semicolon != std::string::npos) {
      const std::string_view parameters = std::string_view(*type).substr(semicolon + 1);
      const auto charset = lowercased(parameters).find("charset=");
      if (charset != std::string::npos) {
        std::string value(trimmed(parameters.substr(charset + 8)));
        value = value.substr(0, value.find(';'));
        value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
        if (const auto name = trimmed(value); !name.empty())
          head.textEncodingName = lowercased(name);
      }
    }
  }
  std::string name;
  if (auto disposition = head.allHeaderFields.value("Content-Disposition"))
    name = fileNameFromDisposition(*disposition);
  if (name.empty()) name = safeFileName(head.url.lastPathComponent());
  head.suggestedFilename = name.empty() ? "Unknown" : name;
  return head;
}

std::optional<ContentRange> parseContentRange(std::string_view value) {
  const std::string text = lowercased(trimmed(value));
  if (text.rfind("bytes ", 0) != 0) return std::nullopt;
  char* end = nullptr;
  const long long first = std::strtoll(text.c_str() + 6, &end, 10);
  if (end == text.c_str() + 6 || *end != '-') return std::nullopt;
  const char* lastStart = end + 1;
  const long long last = std::strtoll(lastStart, &end, 10);
  if (end == lastStart) return std::nullopt;
  ContentRange range{first, last, kTransferSizeUnknown};
  if (auto slash = text.find('/'); slash != std::string::npos && text[slash + 1] != '*') {
    range.total = std::strtoll(text.c_str() + slash + 1, nullptr, 10);
  }
  return range;
}

std::string safeFileName(std::string_view name) {
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name = name.substr(slash + 1);
  std::string safe(name);
  safe.erase(std::remove_if(safe.begin(), safe.end(), [](unsigned char c) { return c < 0x20; }),
             safe.end());
  // Checked after the control bytes are gone: "..\b" must not become "..".
  if (safe == "." || safe == "..") return {};
  return safe;
}

std::string fileNameFromDisposition(std::string_view disposition) {
  const std::string lower = lowercased(disposition);
  if (auto star = lower.find("filename*="); star != std::string::npos) {
    std::string_view value = trimmed(disposition.substr(star + 10));
    value = value.substr(0, value.find(';'));
    if (auto quote = value.find("''"); quote != std::string_view::npos)
      value = value.substr(quote + 2);
    return safeFileName(percentDecode(trimmed(value)));
  }
  if (auto plain = lower.find("filename="); plain != std::string::npos) {
    std::string_view value = trimmed(disposition.substr(plain + 9));
    if (!value.empty() && value.front() == '"') {
      const auto end = value.find('"', 1);
      value = value.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
    } else {
      value = trimmed(value.substr(0, value.find(';')));
    }
    return safeFileName(value);
  }
  return {};
}

}  // namespace tolvane::platform
