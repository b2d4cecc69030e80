#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "HTTP/Response/MediaType.h"
#include "HTTP/Response/Validation.h"

namespace tolvane::http {
namespace {

using platform::HTTPURLResponse;
using platform::URL;

HTTPURLResponse responseOfType(std::optional<std::string> mimeType, int status = 200) {
  HTTPURLResponse response{
      *URL::parse("https://127.0.0.1/"), status, {}, -1, std::move(mimeType), std::nullopt, "x"};
  return response;
}

std::optional<platform::URLRequest> requestAccepting(std::optional<std::string> accept) {
  platform::URLRequest request(URL::parse("https://127.0.0.1/"));
  if (accept) request.setValue(*accept, "Accept");
  return request;
}

const HTTPError& validationError(const ValidationResult& result) {
  const auto* error = dynamic_cast<const HTTPError*>(result.error().get());
  if (!error) throw std::logic_error("not an HTTPError");
  return *error;
}

struct MatchCase {
  std::string accept;    // the request's Accept header
  std::string response;  // the response's media type
  bool accepted;
  friend void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << c.accept << " vs " << c.response;
  }
};

class MediaTypeMatching : public testing::TestWithParam<MatchCase> {};

TEST_P(MediaTypeMatching, FollowsTheAcceptHeader) {
  const auto& param = GetParam();
  const auto acceptable = defaultAcceptableContentTypes(requestAccepting(param.accept));
  const auto result = validateMediaType(acceptable, responseOfType(param.response));
  EXPECT_EQ(result.isSuccess(), param.accepted) << param.accept << " vs " << param.response;
}

INSTANTIATE_TEST_SUITE_P(
    AcceptRules, MediaTypeMatching,
    testing::Values(MatchCase{"application/json", "application/json", true},
                    MatchCase{"application/json", "text/html", false},
                    MatchCase{"application/*", "application/json", true},
                    MatchCase{"*/json", "application/json", true},
                    MatchCase{"*/json", "application/xml", false},
                    MatchCase{"*/*", "image/png", true},
                    MatchCase{"text/*", "application/text", false},
                    // Pieces keep their blanks; parsing trims them.
                    MatchCase{"application/json, text/*", "text/plain", true},
                    MatchCase{"application/json,,  text/plain;q=0.5", "text/plain", true},
                    MatchCase{"application/json; charset=utf-8", "application/json", true},
                    // Comparison is case-sensitive.
                    MatchCase{"Application/JSON", "application/json", false},
                    MatchCase{"application/vnd.a+json", "application/json", false}),
    [](const auto& info) {
      return (info.param.accepted ? "Accepted" : "Refused") + std::to_string(info.index);
    });

TEST(AcceptableContentTypesTest, SplitsAtEveryCommaKeepingBlanks) {
  EXPECT_EQ(defaultAcceptableContentTypes(requestAccepting("application/json, text/plain")),
            (std::vector<std::string>{"application/json", " text/plain"}));
  EXPECT_EQ(defaultAcceptableContentTypes(requestAccepting("a/b,,c/d")),
            (std::vector<std::string>{"a/b", "", "c/d"}));
  EXPECT_EQ(defaultAcceptableContentTypes(requestAccepting(std::nullopt)),
            (std::vector<std::string>{"*/*"}));
  EXPECT_EQ(defaultAcceptableContentTypes(std::nullopt), (std::vector<std::string>{"*/*"}));
}

TEST(ContentTypeValidationTest, FailuresNameTheSortedTypesAndTheResponseType) {
  const auto unacceptable =
      validateMediaType({"text/plain", " application/json"}, responseOfType("text/html"));
  ASSERT_FALSE(unacceptable.isSuccess());
  EXPECT_EQ(validationError(unacceptable).localizedDescription(),
            "Response Content-Type \"text/html\" does not match any acceptable types:  "
            "application/json,text/plain.");

  const auto missing =
      validateContentType(std::vector<std::string>{"application/json"},
                          responseOfType(std::nullopt), std::optional<platform::Data>("{}"));
  ASSERT_FALSE(missing.isSuccess());
  EXPECT_EQ(validationError(missing).localizedDescription(),
            "Response Content-Type was missing and acceptable content types (application/json) do "
            "not match \"*/*\".");

  // No media type is fine when a wildcard is acceptable, and any type is fine without a body.
  EXPECT_TRUE(validateMediaType({" */*;q=1 "}, responseOfType(std::nullopt)).isSuccess());
  EXPECT_FALSE(validateMediaType({"*/* ;q=1"}, responseOfType(std::nullopt)).isSuccess());
  EXPECT_TRUE(validateContentType(std::vector<std::string>{"application/json"},
                                  responseOfType(std::nullopt), std::optional<platform::Data>(""))
                  .isSuccess());
  EXPECT_TRUE(validateContentType(std::vector<std::string>{"application/json"},
                                  responseOfType("text/html"), std::optional<platform::Data>())
                  .isSuccess());
}

class StatusCodeBoundaries : public testing::TestWithParam<std::pair<int, bool>> {};

TEST_P(StatusCodeBoundaries, AcceptsOnly2xx) {
  const auto [code, accepted] = GetParam();
  const auto result =
      validateStatusCode(responseOfType("text/plain", code), isDefaultAcceptableStatusCode);
  ASSERT_EQ(result.isSuccess(), accepted) << code;
  if (!accepted) {
    EXPECT_EQ(validationError(result).responseCode(), code);
  }
}

INSTANTIATE_TEST_SUITE_P(Default, StatusCodeBoundaries,
                         testing::Values(std::pair{199, false}, std::pair{200, true},
                                         std::pair{204, true}, std::pair{299, true},
                                         std::pair{300, false}, std::pair{500, false}),
                         [](const auto& info) {
                           return "Status" + std::to_string(info.param.first);
                         });

}  // namespace
}  // namespace tolvane::http
