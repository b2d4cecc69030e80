#include "HTTP/Core/URLEncoding.h"

#include <gtest/gtest.h>

#include <ostream>

#include "HTTP/Core/HTTPError.h"

namespace tolvane::http {
namespace {

using platform::URL;
using platform::URLRequest;

struct QueryCase {
  const char* name;
  Parameters parameters;
  URLEncoding encoding;
  std::string expected;
  // Test listings show the case by its name.
  friend void PrintTo(const QueryCase& c, std::ostream* os) { *os << c.name; }
};

URLEncoding withArrays(URLEncoding::ArrayEncoding arrays) {
  return URLEncoding(URLEncoding::Destination::methodDependent, std::move(arrays));
}

URLEncoding literalBools() {
  return URLEncoding(URLEncoding::Destination::methodDependent,
                     URLEncoding::ArrayEncoding::brackets(), URLEncoding::BoolEncoding::literal);
}

std::vector<QueryCase> queryCases() {
  using Json = Parameters;
  return {
      {"SortedTopLevelKeys", Json{{"b", 2}, {"a", 1}}, URLEncoding(), "a=1&b=2"},
      {"ArrayBrackets", Json{{"k", {"x", "y"}}}, URLEncoding(), "k%5B%5D=x&k%5B%5D=y"},
      {"ArrayIndex", Json{{"k", {"x", "y"}}},
       withArrays(URLEncoding::ArrayEncoding::indexInBrackets()), "k%5B0%5D=x&k%5B1%5D=y"},
      {"ArrayNoBrackets", Json{{"k", {"x", "y"}}},
       withArrays(URLEncoding::ArrayEncoding::noBrackets()), "k=x&k=y"},
      {"ArrayCustom", Json{{"k", {"x", "y"}}},
       withArrays(URLEncoding::ArrayEncoding::custom([](const std::string& key, std::size_t i) {
         return key + "." + std::to_string(i * 10);
       })),
       "k.0=x&k.10=y"},
      // Nested maps keep their own order; brackets are escaped as part of the key.
      {"NestedMapsInOwnOrder",
       Json{{"user", {{"z", 1}, {"a", {{"deep", "v"}}}, {"tags", {"t1", "t2"}}}}}, URLEncoding(),
       "user%5Bz%5D=1&user%5Ba%5D%5Bdeep%5D=v&user%5Btags%5D%5B%5D=t1&user%5Btags%5D%5B%5D=t2"},
      {"ListOfMaps", Json{{"l", Json::array({{{"a", 1}}, {{"b", 2}}})}}, URLEncoding(),
       "l%5B%5D%5Ba%5D=1&l%5B%5D%5Bb%5D=2"},
      {"NumericBools", Json{{"t", true}, {"f", false}}, URLEncoding(), "f=0&t=1"},
      {"LiteralBools", Json{{"t", true}, {"f", false}}, literalBools(), "f=false&t=true"},
      {"Numbers",
       Json{{"i", -7}, {"u", 18446744073709551615ULL}, {"d", 3.5}, {"w", 2.0}, {"e", 1e21}},
       URLEncoding(), "d=3.5&e=1e%2B21&i=-7&u=18446744073709551615&w=2"},
      {"Null", Json{{"n", nullptr}}, URLEncoding(), "n=null"},
      {"KeptCharacters", Json{{"v", "/path?x-y.z_w~"}}, URLEncoding(), "v=/path?x-y.z_w~"},
      {"ReservedCharacters", Json{{"a b", "c&d=e"}, {"r", ":#[]@!$'()*+,;"}}, URLEncoding(),
       "a%20b=c%26d%3De&r=%3A%23%5B%5D%40%21%24%27%28%29%2A%2B%2C%3B"},
      {"NonASCII", Json{{"ключ", "Привет"}}, URLEncoding(),
       "%D0%BA%D0%BB%D1%8E%D1%87=%D0%9F%D1%80%D0%B8%D0%B2%D0%B5%D1%82"},
      // Bytes that are not UTF-8 are escaped byte by byte, never dropped.
      {"InvalidUTF8", Json{{"b", Json::binary({0xFF, 0x41})}}, URLEncoding(), "b=%FFA"},
      {"Empty", Json::object(), URLEncoding(), ""},
      {"EmptyContainers", Json{{"l", Json::array()}, {"m", Json::object()}, {"s", ""}},
       URLEncoding(), "s="},
  };
}

class URLEncodingQueryTest : public testing::TestWithParam<QueryCase> {};

TEST_P(URLEncodingQueryTest, BuildsTheExpectedQuery) {
  EXPECT_EQ(GetParam().encoding.query(GetParam().parameters), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, URLEncodingQueryTest, testing::ValuesIn(queryCases()),
                         [](const auto& info) { return std::string(info.param.name); });

URLRequest makeRequest(const char* url, const char* method) {
  URLRequest request(URL::parse(url));
  request.httpMethod = method;
  return request;
}

TEST(URLEncodingTest, AppendsToTheExistingQueryWithoutParsingIt) {
  const auto result = URLEncoding::defaultEncoding().encode(
      makeRequest("https://u.example/loaderv3.php?os=macos", "GET"), Parameters{{"os", "macos"}});
  ASSERT_TRUE(result.isSuccess()) << result.error().localizedDescription();
  EXPECT_EQ(result.value().url->absoluteString(),
            "https://u.example/loaderv3.php?os=macos&os=macos");
  EXPECT_FALSE(result.value().httpBody);

  const auto withFragment = URLEncoding::defaultEncoding().encode(
      makeRequest("https://h.example/p#top", "DELETE"), Parameters{{"a", "1 2"}});
  EXPECT_EQ(withFragment.value().url->absoluteString(), "https://h.example/p?a=1%202#top");

  // A "?" inside the fragment belongs to the fragment, not to the query.
  for (const auto& [url, expected] :
       {std::pair{"https://h.example/p#a?b", "https://h.example/p?k=v#a?b"},
        std::pair{"https://h.example/p?q=1#a?b", "https://h.example/p?q=1&k=v#a?b"}}) {
    const auto encoded = URLEncoding().encode(makeRequest(url, "GET"), Parameters{{"k", "v"}});
    EXPECT_EQ(encoded.value().url->absoluteString(), expected) << url;
  }
}

TEST(URLEncodingTest, DestinationDependsOnMethodUnlessFixed) {
  const Parameters parameters{{"a", 1}};
  for (const char* method : {"GET", "HEAD", "DELETE"}) {
    const auto result = URLEncoding().encode(makeRequest("https://h.example/", method), parameters);
    EXPECT_EQ(result.value().url->absoluteString(), "https://h.example/?a=1") << method;
  }
  for (const char* method : {"POST", "PUT", "PATCH", "get", ""}) {
    const auto result = URLEncoding().encode(makeRequest("https://h.example/", method), parameters);
    EXPECT_EQ(result.value().url->absoluteString(), "https://h.example/") << method;
    EXPECT_EQ(result.value().httpBody, "a=1") << method;
  }
  EXPECT_EQ(URLEncoding::queryString()
                .encode(makeRequest("https://h.example/", "POST"), parameters)
                .value()
                .url->absoluteString(),
            "https://h.example/?a=1");
  EXPECT_EQ(URLEncoding::httpBody()
                .encode(makeRequest("https://h.example/", "GET"), parameters)
                .value()
                .httpBody,
            "a=1");
}

TEST(URLEncodingTest, BodySetsFormContentTypeOnlyWhenAbsent) {
  const auto plain = URLEncoding().encode(makeRequest("https://h.example/", "POST"),
                                          Parameters{{"b", "x y"}, {"a", 1}});
  EXPECT_EQ(plain.value().httpBody, "a=1&b=x%20y");
  EXPECT_EQ(plain.value().value("Content-Type"),
            "application/x-www-form-urlencoded; charset=utf-8");

  auto request = makeRequest("https://h.example/", "POST");
  request.setValue("application/json", "content-type");
  const auto kept = URLEncoding().encode(request, Parameters::object());
  EXPECT_EQ(kept.value().value("Content-Type"), "application/json");
  EXPECT_EQ(kept.value().allHTTPHeaderFields.size(), 1U);
  EXPECT_EQ(kept.value().httpBody, "");
}

TEST(URLEncodingTest, AbsentOrEmptyParametersLeaveTheURLAlone) {
  for (const char* method : {"GET", "POST"}) {
    const auto request = makeRequest("https://h.example/p?q=1", method);
    EXPECT_EQ(URLEncoding().encode(request, std::nullopt).value(), request) << method;
  }
  const auto request = makeRequest("https://h.example/p", "GET");
  EXPECT_EQ(URLEncoding().encode(request, Parameters::object()).value(), request);
  EXPECT_EQ(URLEncoding().encode(request, Parameters()).value(), request);  // null counts as empty
}

TEST(URLEncodingTest, BadInputIsAnErrorNotACrash) {
  const auto missing = URLEncoding().encode(URLRequest(), Parameters{{"a", 1}});
  ASSERT_TRUE(missing.isFailure());
  EXPECT_TRUE(missing.error().isParameterEncodingError());
  EXPECT_EQ(missing.error().localizedDescription(), "URL request to encode was missing a URL");

  const auto notAMap =
      URLEncoding().encode(makeRequest("https://h.example/", "GET"), Parameters::array({1, 2}));
  ASSERT_TRUE(notAMap.isFailure());
  EXPECT_EQ(notAMap.error().localizedDescription(),
            "Custom parameter encoder failed with error: Parameters must be a map of names to "
            "values, not a array.");
}

}  // namespace
}  // namespace tolvane::http
