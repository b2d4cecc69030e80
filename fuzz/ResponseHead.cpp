// Feeds the input to the response-head reader one line at a time, as libcurl would, then
// describes the response it read and parses its Content-Range, and checks what the reader
// promises: the head completes at most once and nothing changes after that, names and
// values come trimmed, and the suggested file name is always one safe path component.
#include <algorithm>
#include <string>
#include <string_view>

#include "Invariant.h"
#include "Platform/ResponseHead.h"

namespace {

using tolvane::fuzz::check;
using namespace tolvane::platform;

bool isTrimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  return text.empty() || (kSpace.find(text.front()) == std::string_view::npos &&
                          kSpace.find(text.back()) == std::string_view::npos);
}

bool hasUpperCase(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

void checkFileName(std::string_view name) {
  check(name.find_first_of("/\\") == std::string_view::npos, "file name has no separator");
  check(name != "." && name != "..", "file name is no dot entry");
  for (unsigned char c : name) check(c >= 0x20, "file name has no control byte");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = tolvane::fuzz::text(data, size);
  ResponseHeadReader reader;
  int completions = 0;
  int statusAtEnd = 0;
  HeaderFields fieldsAtEnd;
  while (!input.empty()) {
    if (reader.take(tolvane::fuzz::takeLine(input, true))) {
      ++completions;
      statusAtEnd = reader.statusCode();
      fieldsAtEnd = reader.fields();
    }
  }
  check(completions <= 1, "a head completes once");
  check(reader.complete() == (completions == 1), "complete() agrees with take()");
  if (reader.complete()) {
    check(reader.statusCode() == statusAtEnd && reader.fields() == fieldsAtEnd,
          "lines after the head change nothing");
    check(reader.statusCode() < 100 || reader.statusCode() >= 200, "a complete head is final");
  }
  for (const auto& [name, value] : reader.fields()) {
    check(isTrimmed(name) && isTrimmed(value), "names and values are trimmed");
  }

  const auto url = URL::parse("https://example.invalid/files/a%2F..%2Fb");
  check(url.has_value(), "the base URL parses");
  const HTTPURLResponse head =
      describeResponse(*url, reader.statusCode(), reader.fields(), kTransferSizeUnknown);
  check(!head.suggestedFilename.empty(), "there is always a file name");
  checkFileName(head.suggestedFilename);
  if (head.mimeType) {
    check(!head.mimeType->empty() && isTrimmed(*head.mimeType) && !hasUpperCase(*head.mimeType),
          "media types are trimmed and lower-cased");
  }
  if (head.textEncodingName) {
    check(!head.textEncodingName->empty() && !hasUpperCase(*head.textEncodingName) &&
              head.textEncodingName->find('"') == std::string::npos,
          "charsets are unquoted and lower-cased");
  }
  if (auto disposition = reader.fields().value("Content-Disposition")) {
    checkFileName(fileNameFromDisposition(*disposition));
  }
  if (auto range = reader.fields().value("Content-Range")) (void)parseContentRange(*range);
  return 0;
}
