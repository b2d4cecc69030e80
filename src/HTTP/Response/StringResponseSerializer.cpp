#include "HTTP/Response/StringResponseSerializer.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

namespace tolvane::http {

namespace {

const char* iconvName(StringEncoding encoding) {
  switch (encoding) {
    case StringEncoding::ascii:
      return "ASCII";
    case StringEncoding::utf8:
      return "UTF-8";
    case StringEncoding::isoLatin1:
      return "ISO-8859-1";
    case StringEncoding::isoLatin2:
      return "ISO-8859-2";
    case StringEncoding::utf16:
      return "UTF-16";
    case StringEncoding::utf16BigEndian:
      return "UTF-16BE";
    case StringEncoding::utf16LittleEndian:
      return "UTF-16LE";
    case StringEncoding::utf32:
      return "UTF-32";
    case StringEncoding::utf32BigEndian:
      return "UTF-32BE";
    case StringEncoding::utf32LittleEndian:
      return "UTF-32LE";
    case StringEncoding::windowsCP1250:
      return "CP1250";
    case StringEncoding::windowsCP1251:
      return "CP1251";
    case StringEncoding::windowsCP1252:
      return "CP1252";
    case StringEncoding::macOSRoman:
      return "MACINTOSH";
  }
  return "UTF-8";
}

struct IconvCloser {
  void operator()(void* descriptor) const { ::iconv_close(static_cast<iconv_t>(descriptor)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

}  // namespace

StringResponseSerializer::StringResponseSerializer(
    std::shared_ptr<const DataPreprocessor> dataPreprocessor,
    std::optional<StringEncoding> encoding, EmptyResponseCodes emptyResponseCodes,
    EmptyRequestMethods emptyRequestMethods)
    : ResponseSerializer(std::move(dataPreprocessor), std::move(emptyResponseCodes),
                         std::move(emptyRequestMethods)),
      encoding_(encoding) {}

std::optional<StringEncoding> StringResponseSerializer::encodingForCharset(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  static const std::vector<std::pair<std::string_view, StringEncoding>> kTable = {
      {"utf-8", StringEncoding::utf8},
      {"iso-8859-1", StringEncoding::isoLatin1},
      {"unicode-1-1", StringEncoding::utf16},
      {"iso-10646-ucs-2", StringEncoding::utf16},
      {"utf-16", StringEncoding::utf16},
      {"utf-16be", StringEncoding::utf16BigEndian},
      {"utf-16le", StringEncoding::utf16LittleEndian},
      {"utf-32", StringEncoding::utf32},
      {"utf-32be", StringEncoding::utf32BigEndian},
      {"utf-32le", StringEncoding::utf32LittleEndian},
  };
  for (const auto& [charset, encoding] : kTable) {
    if (charset == lower) return encoding;
  }
  return std::nullopt;
}

std::optional<std::string> StringResponseSerializer::decode(std::string_view bytes,
                                                            StringEncoding encoding) {
  const auto raw = ::iconv_open("UTF-8", iconvName(encoding));
  if (raw == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const IconvHandle converter(raw);

  std::string input(bytes);
  char* in = input.data();
  std::size_t inLeft = input.size();
  std::string output;
  char buffer[16 * 1024];
  while (inLeft > 0) {
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const auto converted = ::iconv(raw, &in, &inLeft, &out, &outLeft);
    output.append(buffer, static_cast<std::size_t>(out - buffer));
    // A full output buffer is the only error worth going round again for; invalid or
    // truncated input means the bytes are not in this encoding.
    if (converted == static_cast<std::size_t>(-1) && errno != E2BIG) return std::nullopt;
  }
  return output;
}

Result<std::string> StringResponseSerializer::serialize(
    const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse* response,
    const std::optional<platform::Data>& data, const std::optional<HTTPError>& error) const {
  platform::Data body;
  if (auto early = prepare(
          request, response, data, error, [] { return Result<std::string>(std::string()); },
          body)) {
    return std::move(*early);
  }
  StringEncoding used = StringEncoding::isoLatin1;
  if (encoding_) {
    used = *encoding_;
  } else if (response && response->textEncodingName) {
    used = encodingForCharset(*response->textEncodingName).value_or(StringEncoding::isoLatin1);
  }
  if (auto text = decode(body, used)) return std::move(*text);
  return failures::stringSerializationFailed(used);
}

}  // namespace tolvane::http
