#include "HTTP/Core/HTTPError.h"

#include <gtest/gtest.h>

#include <ostream>

#include "Platform/URLError.h"

namespace tolvane::http {
namespace {

using platform::URL;
using Validation = HTTPError::ResponseValidationFailureReason;
using Serialization = HTTPError::ResponseSerializationFailureReason;
using Encoding = HTTPError::ParameterEncodingFailureReason;

// Distinct localized and debug texts, so a message shows which rendering it used.
class FakeError final : public platform::Error {
 public:
  explicit FakeError(std::string name) : name_(std::move(name)) {}
  std::string localizedDescription() const override { return name_ + " happened"; }
  std::string debugDescription() const override { return "FakeError(" + name_ + ")"; }

 private:
  std::string name_;
};

platform::ErrorPtr fake(const std::string& name) { return platform::makeError(FakeError(name)); }
URL url(const char* text) { return *URL::parse(text); }

struct MessageCase {
  const char* name;
  HTTPError error;
  std::string expected;
  // Test listings show the case by its name.
  friend void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<MessageCase> messageCases() {
  const URL a = url("https://a.example/x%20y");
  const URL b = url("file:///tmp/dest");
  // Fixed texts are not repeated here: a row each for what is composed from its parts.
  return {
      {"fileMove", HTTPError::downloadedFileMoveFailed(fake("e"), a, b),
       "Moving downloaded file from: https://a.example/x%20y to: file:///tmp/dest failed with "
       "error: e happened"},
      {"invalidURLText", HTTPError::invalidURL("not a url"), "URL is not valid: not a url"},
      {"retry", HTTPError::requestRetryFailed(fake("r"), fake("o")),
       "Request retry failed with retry error: r happened, original error: o happened"},
      {"invalidatedWithout", HTTPError::sessionInvalidated(nullptr),
       "Session was invalidated with error: No description."},
      {"invalidatedWith", HTTPError::sessionInvalidated(fake("e")),
       "Session was invalidated with error: e happened"},
      {"taskFailed", HTTPError::sessionTaskFailed(fake("e")),
       "URLSessionTask failed with error: e happened"},
      {"getBody",
       HTTPError::urlRequestValidationFailed(
           HTTPError::URLRequestValidationFailureReason::bodyDataInGETRequest("a=1")),
       "URLRequest validation failed due to reason: Invalid URLRequest: Requests with GET method "
       "cannot have body "
       "data:\na=1"},
      // Invalid UTF-8 is shown with replacement characters, one per broken sequence.
      {"getBodyInvalidUTF8",
       HTTPError::urlRequestValidationFailed(
           HTTPError::URLRequestValidationFailureReason::bodyDataInGETRequest(
               std::string("x\xC3(\xFFy\xE2\x82", 7))),
       "URLRequest validation failed due to reason: Invalid URLRequest: Requests with GET method "
       "cannot have body "
       "data:\nx\xEF\xBF\xBD(\xEF\xBF\xBDy\xEF\xBF\xBD"},
      // Validation reasons.
      {"dataFileRead", HTTPError::responseValidationFailed(Validation::dataFileReadFailed(b)),
       "Response could not be validated, data file could not be read: file:///tmp/dest."},
      {"missingContentType",
       HTTPError::responseValidationFailed(
           Validation::missingContentType({"application/json", "text/plain"})),
       "Response Content-Type was missing and acceptable content types "
       "(application/json,text/plain) do not match "
       "\"*/*\"."},
      {"unacceptableContentType",
       HTTPError::responseValidationFailed(
           Validation::unacceptableContentType({"application/json"}, "text/html")),
       "Response Content-Type \"text/html\" does not match any acceptable types: "
       "application/json."},
      {"status404", HTTPError::responseValidationFailed(Validation::unacceptableStatusCode(404)),
       "Response status code was unacceptable: 404."},
      {"customValidation",
       HTTPError::responseValidationFailed(Validation::customValidationFailed(fake("v"))),
       "Custom response validation failed with error: v happened"},
      // Serialization reasons.
      {"inputFileRead",
       HTTPError::responseSerializationFailed(Serialization::inputFileReadFailed(a)),
       "Response could not be serialized, input file could not be read: https://a.example/x%20y."},
      {"decoding", HTTPError::responseSerializationFailed(Serialization::decodingFailed(fake("d"))),
       "Response could not be decoded because of error:\nd happened"},
  };
}

class HTTPErrorMessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(HTTPErrorMessageTest, RendersExactMessageAsLocalizedDescription) {
  const HTTPError& error = GetParam().error;
  EXPECT_EQ(error.errorDescription(), GetParam().expected);
  // Through the base class too: wrapping code only sees a platform::Error.
  const platform::Error& base = error;
  EXPECT_EQ(base.localizedDescription(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(AllCases, HTTPErrorMessageTest, testing::ValuesIn(messageCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HTTPErrorTest, UnderlyingErrorIsTheCauseOnlyWhereACaseCarriesOne) {
  const auto retry = fake("r");
  const auto original = fake("o");
  const auto retryFailed = HTTPError::requestRetryFailed(retry, original);
  EXPECT_EQ(retryFailed.underlyingError(), retry);
  EXPECT_EQ(retryFailed.originalError(), original);

  const auto cause = fake("c");
  EXPECT_EQ(HTTPError::sessionTaskFailed(cause).underlyingError(), cause);
  EXPECT_EQ(HTTPError::responseSerializationFailed(Serialization::decodingFailed(cause))
                .underlyingError(),
            cause);
  // A reason that happens to hold an error but is not an error-carrying case reports none.
  auto status = Validation::unacceptableStatusCode(404);
  status.error = cause;
  EXPECT_EQ(HTTPError::responseValidationFailed(status).underlyingError(), nullptr);
  EXPECT_EQ(HTTPError::parameterEncodingFailed(Encoding::make(Encoding::Kind::missingURL, cause))
                .underlyingError(),
            nullptr);
}

TEST(HTTPErrorTest, DownloadResumeDataComesFromATransportErrorUnderneath) {
  const auto withData =
      platform::makeError(platform::URLError(platform::URLError::networkConnectionLost,
                                             url("https://h.example/f"), std::string("resume")));
  EXPECT_EQ(HTTPError::sessionTaskFailed(withData).downloadResumeData(), "resume");
  const auto withoutData = platform::makeError(platform::URLError(platform::URLError::timedOut));
  EXPECT_FALSE(HTTPError::sessionTaskFailed(withoutData).downloadResumeData());
  EXPECT_FALSE(HTTPError::sessionTaskFailed(fake("other")).downloadResumeData());
}

TEST(HTTPErrorTest, AsHTTPErrorKeepsHTTPErrorsAndBuildsTheDefaultOnlyForOthers) {
  int built = 0;
  auto makeDefault = [&] {
    ++built;
    return HTTPError::explicitlyCancelled();
  };
  const HTTPError original = HTTPError::responseValidationFailed(Validation::dataFileNil());
  const HTTPError same = asHTTPError(platform::makeError(original), makeDefault);
  EXPECT_TRUE(same.isResponseValidationError());
  EXPECT_EQ(built, 0);

  const HTTPError replaced = asHTTPError(fake("x"), makeDefault);
  EXPECT_TRUE(replaced.isExplicitlyCancelledError());
  EXPECT_EQ(built, 1);

  EXPECT_TRUE(asHTTPError(platform::makeError(original), "never").isResponseValidationError());
}

}  // namespace
}  // namespace tolvane::http
