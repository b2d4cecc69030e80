#include <gtest/gtest.h>

#include "Platform/ResponseHead.h"

namespace tolvane::platform {
namespace {

struct HeadCase {
  const char* name;
  std::string_view text;  // handed over line by line, as libcurl does
  int status;
  HeaderFields fields;
  bool complete = true;
};

void PrintTo(const HeadCase& row, std::ostream* out) { *out << row.name; }

class ResponseHeadReaderTest : public ::testing::TestWithParam<HeadCase> {};

TEST_P(ResponseHeadReaderTest, ReadsTheFinalHead) {
  ResponseHeadReader reader;
  int completions = 0;
  for (std::string_view text = GetParam().text; !text.empty();) {
    const auto line = text.substr(0, text.find('\n') + 1);
    completions += reader.take(line) ? 1 : 0;
    text.remove_prefix(line.size());
  }
  EXPECT_EQ(reader.statusCode(), GetParam().status);
  EXPECT_TRUE(reader.fields() == GetParam().fields);
  EXPECT_EQ(completions, GetParam().complete ? 1 : 0);
  EXPECT_EQ(reader.complete(), GetParam().complete);
}

INSTANTIATE_TEST_SUITE_P(
    Heads, ResponseHeadReaderTest,
    ::testing::Values(
        HeadCase{"InterimHeadIsSkipped",
                 "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\nHTTP/1.1 200 OK\r\nA: 1\r\n\r\n",
                 200,
                 {{"A", "1"}}},
        HeadCase{"RepeatedFieldsCombine",
                 "HTTP/2 204\nSet-Cookie: a=1\nset-cookie: b=2\n\n",
                 204,
                 {{"Set-Cookie", "a=1, b=2"}}},
        HeadCase{"EmptyElementsAddNothing",
                 "HTTP/2 200\nA: 1\nA:\nB:\nB: 2\n\n",
                 200,
                 {{"A", "1"}, {"B", "2"}}},
        HeadCase{"TrimmedAndFoldedOrBareLinesDropped",
                 "HTTP/1.1 200 OK\r\nX-A :  v \r\n  folded\r\nno colon\r\n\r\n",
                 200,
                 {{"X-A", "v"}}},
        HeadCase{"TrailersAreIgnored",
                 "HTTP/1.1 200 OK\r\n\r\nHTTP/1.1 500 No\r\nTrailer: x\r\n\r\n",
                 200,
                 {}},
        HeadCase{"UnfinishedIsNotComplete",
                 "HTTP/1.1 302 Found\r\nLocation: /b\r\n",
                 302,
                 {{"Location", "/b"}},
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

struct DescribeCase {
  const char* name;
  const char* url;
  HeaderFields fields;
  std::string fileName;
  std::optional<std::string> mimeType = std::nullopt;
  std::optional<std::string> charset = std::nullopt;
};

void PrintTo(const DescribeCase& row, std::ostream* out) { *out << row.name; }

class DescribeResponseTest : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(DescribeResponseTest, TakesMediaTypeCharsetAndASafeFileName) {
  const auto head = describeResponse(*URL::parse(GetParam().url), 200, GetParam().fields, 7);
  EXPECT_EQ(head.expectedContentLength, 7);
  EXPECT_EQ(head.mimeType, GetParam().mimeType);
  EXPECT_EQ(head.textEncodingName, GetParam().charset);
  EXPECT_EQ(head.suggestedFilename, GetParam().fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Heads, DescribeResponseTest,
    ::testing::Values(DescribeCase{"MediaTypeAndQuotedCharsetAreLowerCased",
                                   "https://h.test/dir/f.txt",
                                   {{"Content-Type", " Text/HTML ; Charset=\"UTF-8\"; q=1"}},
                                   "f.txt",
                                   "text/html",
                                   "utf-8"},
                      DescribeCase{
                          "QuotedFileNameKeepsItsLastComponent",
                          "https://h.test/x",
                          {{"Content-Disposition", "attachment; filename=\"../../.profile\""}},
                          ".profile"},
                      DescribeCase{"EncodedFileNameWinsDecodedThenReduced",
                                   "https://h.test/x",
                                   {{"Content-Disposition",
                                     "a; filename=p.txt; filename*=UTF-8''..%2Fa%20b%0A.c"}},
                                   "a b.c"},
                      DescribeCase{"DotNameFallsBackToTheURL",
                                   "https://h.test/f/%2E%2E%2Fpasswd",
                                   {{"Content-Disposition", "attachment; filename=.."}},
                                   "passwd"},
                      DescribeCase{"ControlBytesCannotMakeADotName",
                                   "https://h.test/x",
                                   {{"Content-Disposition", "attachment; filename=\"..\b\""}},
                                   "x"},
                      DescribeCase{"NoNameAtAllIsUnknown", "https://h.test/", {}, "Unknown"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ContentRangeTest, ReadsTheFirstAndLastByteAndTheTotalWhenKnown) {
  const auto known = parseContentRange(" Bytes 100-199/1000");
  ASSERT_TRUE(known);
  EXPECT_EQ(known->first, 100);
  EXPECT_EQ(known->last, 199);
  EXPECT_EQ(known->total, 1000);
  const auto unknown = parseContentRange("bytes 5-9/*");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->first, 5);
  EXPECT_EQ(unknown->total, kTransferSizeUnknown);
  EXPECT_FALSE(parseContentRange("items 1-2/3") || parseContentRange("bytes */10") ||
               parseContentRange("bytes 5-/10"));
}

}  // namespace
}  // namespace tolvane::platform
