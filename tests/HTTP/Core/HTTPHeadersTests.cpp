#include "HTTP/Core/HTTPHeaders.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace tolvane::http {
namespace {

std::vector<HTTPHeader> entries(const HTTPHeaders& headers) { return headers.headers(); }

TEST(HTTPHeadersTest, UpdateReplacesInPlaceTakingTheNewSpelling) {
  HTTPHeaders headers{{"Accept", "x"}, {"User-Agent", "u"}, {"Content-Type", "b"}, {"X-Last", "l"}};
  headers.update("content-type", "a");
  EXPECT_EQ(entries(headers),
            (std::vector<HTTPHeader>{
                {"Accept", "x"}, {"User-Agent", "u"}, {"content-type", "a"}, {"X-Last", "l"}}));
  headers.add(HTTPHeader{"x-last", "m"});  // add merges too
  EXPECT_EQ(headers.count(), 4U);
  EXPECT_EQ(headers[3], (HTTPHeader{"x-last", "m"}));
  headers.add("New", "n");
  EXPECT_EQ(headers[4], (HTTPHeader{"New", "n"}));
}

TEST(HTTPHeadersTest, ConstructionMergesLaterDuplicatesIntoEarlierPosition) {
  const HTTPHeaders fromList{{"Accept", "x"}, {"B", "1"}, {"accept", "y"}};
  EXPECT_EQ(entries(fromList), (std::vector<HTTPHeader>{{"accept", "y"}, {"B", "1"}}));

  const HTTPHeaders fromDictionary(platform::HeaderFields{{"Z", "1"}, {"A", "2"}});
  EXPECT_EQ(entries(fromDictionary), (std::vector<HTTPHeader>{{"Z", "1"}, {"A", "2"}}));
}

TEST(HTTPHeadersTest, LookupAndRemovalIgnoreCase) {
  HTTPHeaders headers{{"User-Agent", "agent"}, {"Accept", "a"}};
  EXPECT_EQ(headers.value("USER-AGENT"), "agent");
  EXPECT_EQ(headers["user-agent"], "agent");
  EXPECT_FALSE(headers.value("User-Agen"));

  headers.remove("ACCEPT");
  EXPECT_EQ(entries(headers), (std::vector<HTTPHeader>{{"User-Agent", "agent"}}));
  headers.remove("Missing");
  EXPECT_EQ(headers.count(), 1U);

  headers.set("accept", "b");
  EXPECT_EQ(headers.value("Accept"), "b");
  headers.set("ACCEPT", std::nullopt);
  EXPECT_FALSE(headers.value("Accept"));
  EXPECT_FALSE(headers.isEmpty());
}

TEST(HTTPHeadersTest, EqualityAndHashFollowOrderAndExactText) {
  const HTTPHeaders ab{{"A", "1"}, {"B", "2"}};
  const HTTPHeaders ba{{"B", "2"}, {"A", "1"}};
  const HTTPHeaders lower{{"a", "1"}, {"B", "2"}};
  EXPECT_NE(ab, ba);
  EXPECT_NE(ab, lower);
  EXPECT_EQ(ab, (HTTPHeaders{{"A", "1"}, {"B", "2"}}));
  EXPECT_NE((HTTPHeader{"A", "x"}), (HTTPHeader{"a", "x"}));
  EXPECT_EQ(std::hash<HTTPHeaders>{}(ab),
            std::hash<HTTPHeaders>{}(HTTPHeaders{{"A", "1"}, {"B", "2"}}));
  const std::unordered_set<HTTPHeader> set{{"A", "1"}, {"A", "1"}, {"a", "1"}};
  EXPECT_EQ(set.size(), 2U);
}

TEST(HTTPHeadersTest, SortIsByLowerCasedNameAndStable) {
  const HTTPHeaders headers{{"b", "1"}, {"C", "2"}, {"a", "3"}, {"B-", "4"}};
  EXPECT_EQ(entries(headers.sorted()),
            (std::vector<HTTPHeader>{{"a", "3"}, {"b", "1"}, {"B-", "4"}, {"C", "2"}}));
  // "[" sorts after upper-case letters but before lower-case ones: the names compare lower-cased.
  EXPECT_EQ(entries(HTTPHeaders{{"Y", "2"}, {"[x", "1"}}.sorted()),
            (std::vector<HTTPHeader>{{"[x", "1"}, {"Y", "2"}}));
}

TEST(HTTPHeaderTest, AuthorizationValues) {
  EXPECT_EQ(HTTPHeader::authorizationBearer("tok").value, "Bearer tok");
  // Nothing in the program sends these: one case each.
  EXPECT_EQ(HTTPHeader::authorization("Aladdin", "open sesame").value,
            "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

}  // namespace
}  // namespace tolvane::http
