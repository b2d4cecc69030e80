#include "HTTP/Core/URLConvertible.h"

#include <gtest/gtest.h>

#include "HTTP/Core/RequestConvertible.h"
#include "Platform/URLError.h"

namespace tolvane::http {
namespace {

TEST(URLConvertibleTest, TextsURLsAndComponentsBecomeURLs) {
  EXPECT_EQ(URLConvertible("https://h.example/a b").asURL().value().absoluteString(),
            "https://h.example/a%20b");
  const auto url = *platform::URL::parse("https://h.example/x");
  EXPECT_EQ(URLConvertible(url).asURL().value(), url);
  const platform::URLComponents components{"https", "h.example", 8443, "/p", "a=1", std::nullopt};
  EXPECT_EQ(URLConvertible(components).asURL().value().absoluteString(),
            "https://h.example:8443/p?a=1");
}

TEST(URLConvertibleTest, UnusableValuesFailAsInvalidURLCarryingTheValue) {
  const auto text = URLConvertible("no scheme here").asURL();
  ASSERT_TRUE(text.isFailure());
  EXPECT_TRUE(text.error().isInvalidURLError());
  EXPECT_EQ(text.error().urlConvertible(), URLConvertible("no scheme here"));
  EXPECT_EQ(text.error().localizedDescription(), "URL is not valid: no scheme here");

  const platform::URLComponents noHost{"https",    "",           std::nullopt,
                                       "relative", std::nullopt, std::nullopt};
  const auto components = URLConvertible(noHost).asURL();
  ASSERT_TRUE(components.isFailure());
  EXPECT_EQ(components.error().urlConvertible(), URLConvertible(noHost));
  EXPECT_TRUE(URLConvertible("").asURL().isFailure());
}

TEST(RequestConvertibleTest, AModifierErrorBecomesCreateURLRequestFailed) {
  const auto built =
      RequestConvertible(
          "http://127.0.0.1/", HTTPMethod::get, std::nullopt, nullptr, std::nullopt,
          [](platform::URLRequest&) {
            return platform::makeError(platform::URLError(platform::URLError::cancelled));
          })
          .asURLRequest();
  ASSERT_TRUE(built.isFailure());
  EXPECT_EQ(built.error().kind(), HTTPError::Kind::createURLRequestFailed);
}

}  // namespace
}  // namespace tolvane::http
