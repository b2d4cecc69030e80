#include <gtest/gtest.h>

#include "Platform/RedirectPolicy.h"

namespace tolvane::platform {
namespace {

// `from` and `next` read "METHOD URL"; `next` is empty when the hop is refused with `refusal`.
struct Hop {
  const char* name;
  const char* from;
  int status;
  const char* location;
  const char* next;
  bool credentialsKept = true;
  URLError::Code refusal = URLError::unknown;
  int hopsSoFar = kMaximumRedirects - 1;  // the last hop allowed, unless a row says otherwise
};

void PrintTo(const Hop& row, std::ostream* out) { *out << row.name; }

class RedirectPolicyTest : public ::testing::TestWithParam<Hop> {};

TEST_P(RedirectPolicyTest, FollowsOrRefuses) {
  const std::string from = GetParam().from;
  URLRequest current(URL::parse(from.substr(from.find(' ') + 1)));
  current.httpMethod = from.substr(0, from.find(' '));
  current.httpBody = "a=1";
  current.allHTTPHeaderFields = {{"Content-Type", "text/plain"},
                                 {"Authorization", "Basic dTpw"},
                                 {"Cookie", "s=1"},
                                 {"X-Other", "kept"}};
  const auto result =
      redirectedRequest(current, GetParam().status, GetParam().location, GetParam().hopsSoFar);
  if (std::string(GetParam().next).empty()) {
    ASSERT_TRUE(std::holds_alternative<TransferFailure>(result));
    EXPECT_EQ(std::get<TransferFailure>(result).code, GetParam().refusal);
    return;
  }
  ASSERT_TRUE(std::holds_alternative<URLRequest>(result))
      << std::get<TransferFailure>(result).detail;
  const auto& next = std::get<URLRequest>(result);
  EXPECT_EQ(next.httpMethod + " " + next.url->absoluteString(), GetParam().next);
  const bool becameGet = next.httpMethod != current.httpMethod;
  EXPECT_EQ(next.httpBody.has_value() && next.value("Content-Type").has_value(), !becameGet);
  EXPECT_EQ(next.value("Authorization").has_value() && next.value("Cookie").has_value(),
            GetParam().credentialsKept);
  EXPECT_EQ(next.value("X-Other"), "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Hops, RedirectPolicyTest,
    ::testing::Values(
        Hop{"RelativeLocation", "GET https://a.test/x/y", 302, "z?q=1",
            "GET https://a.test/x/z?q=1"},
        Hop{"HostCaseIsTheSameOrigin", "GET https://A.test/", 307, "https://a.test/b",
            "GET https://a.test/b"},
        Hop{"PostBecomesGetOn301", "POST http://a.test/", 301, "/b", "GET http://a.test/b"},
        Hop{"PostBecomesGetOn302", "POST http://a.test/", 302, "/b", "GET http://a.test/b"},
        Hop{"PutStaysOn302", "PUT http://a.test/", 302, "/b", "PUT http://a.test/b"},
        Hop{"PutBecomesGetOn303", "PUT http://a.test/", 303, "/b", "GET http://a.test/b"},
        Hop{"HeadStaysOn303", "HEAD http://a.test/", 303, "/b", "HEAD http://a.test/b"},
        Hop{"PostStaysOn307", "POST http://a.test/", 307, "/b", "POST http://a.test/b"},
        Hop{"PostStaysOn308", "POST http://a.test/", 308, "/b", "POST http://a.test/b"},
        Hop{"OtherHostGetsNoCredentials", "GET https://a.test/", 302, "https://b.test/c",
            "GET https://b.test/c", false},
        Hop{"OtherPortGetsNoCredentials", "GET http://a.test:81/", 302, "http://a.test:82/c",
            "GET http://a.test:82/c", false},
        Hop{"HttpToHttpsGetsNoCredentials", "GET http://a.test/", 301, "https://a.test/",
            "GET https://a.test/", false},
        Hop{"HttpsToHttpIsRefused", "GET https://a.test/", 302, "http://a.test/", "", false,
            URLError::appTransportSecurityRequiresSecureConnection},
        Hop{"FileSchemeIsRefused", "GET https://a.test/", 302, "file:///etc/passwd", "", false,
            URLError::unsupportedURL},
        Hop{"UnusableLocationIsRefused", "GET https://a.test/", 302, "http://[::1", "", false,
            URLError::redirectToNonExistentLocation},
        Hop{"HopBeyondTheLimitIsRefused", "GET https://a.test/", 302, "/b", "", false,
            URLError::httpTooManyRedirects, kMaximumRedirects}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvane::platform
