// Splits the input at its first NUL into an Accept header value and a response media type,
// parses both ways round and runs the content type validation. Parsing never fails, drops
// parameters, and a wildcard admits everything; validation succeeds exactly when some
// piece of the Accept value admits the response type, and otherwise reports every piece.
// How two types match, and how an Accept value splits, are ValidationTests' tables.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Response/MediaType.h"
#include "HTTP/Response/Validation.h"
#include "Invariant.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/URLRequest.h"

namespace {

using tolvane::http::HTTPError;
using tolvane::http::MediaType;
using Reason = HTTPError::ResponseValidationFailureReason;

using tolvane::fuzz::check;

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void checkParsed(std::string_view text, const MediaType& parsed) {
  for (const auto* half : {&parsed.type, &parsed.subtype}) {
    check(half->find(';') == std::string::npos, "parameters are dropped");
    check(half->find('/') == std::string::npos, "halves hold no '/'");
  }
  check(parsed.type.empty() || !isBlank(parsed.type.front()), "leading blanks are trimmed");
  check(parsed.subtype.empty() || !isBlank(parsed.subtype.back()) ||
            text.find(';') != std::string_view::npos,
        "trailing blanks are trimmed");

  check(parsed.matches(parsed), "a type admits itself");
  check(MediaType::parse("*/*").matches(parsed), "*/* admits any type");
  check(MediaType{parsed.type, "*"}.matches(parsed), "type/* admits its type");
  check(MediaType{"*", parsed.subtype}.matches(parsed), "*/subtype admits its subtype");

  // Whatever follows a ';' is a parameter: appending one changes nothing.
  if (text.find(';') == std::string_view::npos && (text.empty() || !isBlank(text.back()))) {
    check(MediaType::parse(std::string(text) + ";charset=utf-8") == parsed,
          "parameters do not count");
  }
}

void checkValidation(std::string_view accept, std::string_view mimeType, bool hasMimeType) {
  tolvane::platform::URLRequest request;
  request.setValue(std::string(accept), "Accept");
  const auto acceptable = tolvane::http::defaultAcceptableContentTypes(request);

  tolvane::platform::HTTPURLResponse response{*tolvane::platform::URL::parse("https://h.example/"),
                                              200,
                                              {},
                                              -1,
                                              std::nullopt,
                                              std::nullopt,
                                              "x"};
  if (hasMimeType) response.mimeType = std::string(mimeType);

  bool admitted = false;
  for (const auto& piece : acceptable) {
    const MediaType parsed = MediaType::parse(piece);
    admitted = admitted ||
               (hasMimeType ? parsed.matches(MediaType::parse(mimeType)) : parsed.isWildcard());
  }
  const auto result = tolvane::http::validateMediaType(acceptable, response);
  check(result.isSuccess() == admitted, "validation succeeds exactly when a piece admits the type");
  if (result.isSuccess()) return;

  const auto* error = dynamic_cast<const HTTPError*>(result.error().get());
  check(error != nullptr && error->isResponseValidationError(), "a refusal is a validation error");
  const Reason* reason = error->responseValidationReason();
  check(reason->kind == (hasMimeType ? Reason::Kind::unacceptableContentType
                                     : Reason::Kind::missingContentType),
        "missing and unacceptable types are told apart");
  auto expected = acceptable;
  std::sort(expected.begin(), expected.end());
  check(reason->acceptableContentTypes == expected, "the error lists every piece, sorted");
  if (hasMimeType)
    check(reason->responseContentType == mimeType, "the error names the response type as sent");
  check(!error->localizedDescription().empty(), "the error has a message");

  // The data form skips the check for an empty body.
  check(tolvane::http::validateContentType(acceptable, response, std::optional<std::string>(""))
            .isSuccess(),
        "an empty body passes whatever its type");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = tolvane::fuzz::text(data, size);
  const auto nul = input.find('\0');
  const std::string_view first = input.substr(0, nul);
  const std::string_view second =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  const MediaType a = MediaType::parse(first);
  const MediaType b = MediaType::parse(second);
  checkParsed(first, a);
  checkParsed(second, b);
  const bool wildcard = a.type == "*" || a.subtype == "*" || b.type == "*" || b.subtype == "*";
  if (a.matches(b) && b.matches(a) && !wildcard) {
    check(a == b, "mutual matches without wildcards are equal types");
  }

  checkValidation(first, second, nul != std::string_view::npos);
  checkValidation(second, first, true);
  return 0;
}
