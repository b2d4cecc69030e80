#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Platform/DownloadFile.h"
#include "Platform/ResponseHead.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TemporaryHome.h"

namespace tolvane::platform {
namespace {

class DownloadFileTest : public ::testing::Test {
 protected:
  void SetUp() override { request_.downloadDirectory = folder_.path(); }

  // Resume data naming `file`, a partial file of ours unless the test says otherwise.
  ResumeData resumeFrom(const std::filesystem::path& file) const {
    ResumeData resume;
    resume.request = request_;
    resume.temporaryFile = file;
    resume.bytesReceived = 3;
    resume.validator = "\"v1\"";
    resume.completeLength = 6;
    return resume;
  }

  test::TemporaryDirectory folder_;
  URLRequest request_{URL::parse("https://h.test/f.bin")};
  std::filesystem::path partial_ = folder_.path() / "tolvane-download-partial";
};

// Resume data is input: a file that is not ours is never reopened, let alone truncated.
TEST_F(DownloadFileTest, NeverContinuesAFileThatIsNotOurs) {
  std::filesystem::create_directory(folder_.path() / "elsewhere");
  const auto precious = folder_.path() / "elsewhere" / "tolvane-download-precious";
  test::writeFile(precious, "keep me");
  std::filesystem::create_hard_link(precious, partial_);  // our name, someone else's file
  for (const auto& named : {precious, partial_}) {
    DownloadFile file;
    EXPECT_FALSE(file.continuePartial(resumeFrom(named))) << named;
    EXPECT_FALSE(file.isOpen() || file.continuing());
  }
  EXPECT_EQ(test::readFile(precious), "keep me");
}

struct AnswerCase {
  const char* name;
  int status;
  HeaderFields fields;
  bool continues;  // the partial file goes on; else a fresh file, or a failure when `fails`
  bool fails = false;
};

void PrintTo(const AnswerCase& row, std::ostream* out) { *out << row.name; }

class DownloadFileAnswerTest : public DownloadFileTest,
                               public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(DownloadFileAnswerTest, ContinuesOnlyWhatContinuesTheFile) {
  test::writeFile(partial_, "abcdef");
  DownloadFile file;
  ASSERT_TRUE(file.continuePartial(resumeFrom(partial_)));
  EXPECT_EQ(file.offset(), 3);
  const auto failure = file.prepare(
      describeResponse(*request_.url, GetParam().status, GetParam().fields, 3), request_);
  ASSERT_EQ(failure.has_value(), GetParam().fails);
  if (failure) {
    EXPECT_EQ(failure->code, URLError::badServerResponse);
    // Nor continued later: that partial file can no longer be trusted.
    EXPECT_FALSE(file.resumeData(request_, GetParam().status));
    return;
  }
  ASSERT_TRUE(file.write("xyz", 3));
  EXPECT_EQ(file.size(), GetParam().continues ? 6 : 3);
  EXPECT_EQ(std::filesystem::exists(partial_), GetParam().continues);
  if (GetParam().continues) {
    EXPECT_EQ(test::readFile(partial_), "abcxyz");
  }
}

const HeaderFields kRest{{"Content-Range", "bytes 3-5/6"}, {"ETag", "\"v1\""}};

HeaderFields with(HeaderFields fields, const std::string& name, std::optional<std::string> value) {
  fields.setValue(std::move(value), name);
  return fields;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DownloadFileAnswerTest,
    ::testing::Values(AnswerCase{.name = "RestOfTheSameVersion",
                                 .status = 206,
                                 .fields = kRest,
                                 .continues = true},
                      AnswerCase{.name = "PieceFromTheWrongOffset",
                                 .status = 206,
                                 .fields = with(kRest, "Content-Range", "bytes 0-2/6"),
                                 .continues = false,
                                 .fails = true},
                      AnswerCase{.name = "PieceThatStopsShortOfTheEnd",
                                 .status = 206,
                                 .fields = with(kRest, "Content-Range", "bytes 3-4/6"),
                                 .continues = false,
                                 .fails = true},
                      AnswerCase{.name = "PieceOfAnotherVersion",
                                 .status = 206,
                                 .fields = with(kRest, "ETag", "\"v2\""),
                                 .continues = false,
                                 .fails = true},
                      AnswerCase{.name = "PieceWithoutAValidator",
                                 .status = 206,
                                 .fields = with(kRest, "ETag", std::nullopt),
                                 .continues = false,
                                 .fails = true},
                      AnswerCase{.name = "PieceOfAFileOfAnotherLength",
                                 .status = 206,
                                 .fields = with(kRest, "Content-Range", "bytes 3-6/7"),
                                 .continues = false,
                                 .fails = true},
                      AnswerCase{.name = "PieceOfACodedBody",
                                 .status = 206,
                                 .fields = with(kRest, "Content-Encoding", "gzip"),
                                 .continues = false,
                                 .fails = true},
                      AnswerCase{.name = "WholeEntityStartsOver",
                                 .status = 200,
                                 .fields = {{"ETag", "\"v2\""}},
                                 .continues = false}),
    [](const auto& info) { return std::string(info.param.name); });

// The first answer of a fresh download: whether it may be written at all, and whether a
// later transfer may continue the file it leaves.
struct FirstAnswerCase {
  const char* name;
  int status;
  HeaderFields fields;
  std::int64_t contentLength;
  bool refused = false;
  bool continuable = false;
  friend void PrintTo(const FirstAnswerCase& row, std::ostream* out) { *out << row.name; }
};

class DownloadFileFirstAnswerTest : public DownloadFileTest,
                                    public ::testing::WithParamInterface<FirstAnswerCase> {};

TEST_P(DownloadFileFirstAnswerTest, IsContinuedOnlyWhenItCanBe) {
  const auto& row = GetParam();
  DownloadFile file;
  const auto failure = file.prepare(
      describeResponse(*request_.url, row.status, row.fields, row.contentLength), request_);
  ASSERT_EQ(failure.has_value(), row.refused);
  if (failure) {
    EXPECT_EQ(failure->code, URLError::badServerResponse);
    return;
  }
  ASSERT_TRUE(file.write("abc", 3));
  file.name(1);
  const auto resume = file.resumeData(request_, row.status);
  ASSERT_EQ(resume.has_value(), row.continuable);
  if (resume) {
    EXPECT_EQ(resume->completeLength, row.contentLength);
    EXPECT_EQ(ResumeData::decode(resume->encoded())->completeLength, row.contentLength);
  }
  file.close();
  file.remove();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DownloadFileFirstAnswerTest,
    ::testing::Values(FirstAnswerCase{.name = "WholeFileWithAStrongTag",
                                      .status = 200,
                                      .fields = {{"ETag", "\"v1\""}},
                                      .contentLength = 6,
                                      .continuable = true},
                      // Ranges would count the coded bytes; the file holds decoded ones.
                      FirstAnswerCase{.name = "CodedBody",
                                      .status = 200,
                                      .fields = {{"ETag", "\"v1\""}, {"Content-Encoding", "gzip"}},
                                      .contentLength = 6},
                      // Nothing to hold the rest's Content-Range against.
                      FirstAnswerCase{.name = "LengthUnknown",
                                      .status = 200,
                                      .fields = {{"ETag", "\"v1\""}},
                                      .contentLength = kTransferSizeUnknown},
                      FirstAnswerCase{
                          .name = "PartialContentNobodyAskedFor",
                          .status = 206,
                          .fields = {{"ETag", "\"v1\""}, {"Content-Range", "bytes 0-2/6"}},
                          .contentLength = 3,
                          .refused = true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadFileTest, ResumeDataWithoutTheCompleteLengthIsNotRead) {
  auto document = nlohmann::json::parse(resumeFrom(partial_).encoded());
  ASSERT_TRUE(ResumeData::decode(document.dump()));
  document.erase("length");
  EXPECT_FALSE(ResumeData::decode(document.dump()));
}

// What goes into If-Range: RFC 9110 allows a strong entity tag, or a date only when there is
// no entity tag at all and it lies at least a second before the answer's Date.
struct ValidatorCase {
  const char* name;
  HeaderFields fields;
  std::optional<std::string> validator;
  friend void PrintTo(const ValidatorCase& row, std::ostream* out) { *out << row.name; }
};

class IfRangeValidatorTest : public ::testing::TestWithParam<ValidatorCase> {};

TEST_P(IfRangeValidatorTest, ChoosesOnlyAStrongValidator) {
  EXPECT_EQ(ifRangeValidator(GetParam().fields), GetParam().validator);
}

const std::string kModified = "Mon, 07 Dec 2026 10:00:00 GMT";

INSTANTIATE_TEST_SUITE_P(
    Fields, IfRangeValidatorTest,
    ::testing::Values(
        ValidatorCase{
            "StrongTagBeforeTheDate", {{"ETag", "\"v1\""}, {"Last-Modified", kModified}}, "\"v1\""},
        ValidatorCase{"WeakTagRulesTheDateOut",
                      {{"ETag", "W/\"v1\""},
                       {"Last-Modified", kModified},
                       {"Date", "Tue, 08 Dec 2026 10:00:00 GMT"}},
                      std::nullopt},
        ValidatorCase{"DateASecondBeforeTheAnswer",
                      {{"Last-Modified", kModified}, {"Date", "Mon, 07 Dec 2026 10:00:01 GMT"}},
                      kModified},
        ValidatorCase{"DateInTheAnswersSecond",
                      {{"Last-Modified", kModified}, {"Date", kModified}},
                      std::nullopt},
        ValidatorCase{"DateAfterTheAnswer",
                      {{"Last-Modified", kModified}, {"Date", "Mon, 07 Dec 2026 09:59:00 GMT"}},
                      std::nullopt},
        // The obsolete forms a recipient must still read.
        ValidatorCase{"ObsoleteDateForms",
                      {{"Last-Modified", "Monday, 07-Dec-26 10:00:00 GMT"},
                       {"Date", "Mon Dec  7 10:00:05 2026"}},
                      "Monday, 07-Dec-26 10:00:00 GMT"},
        ValidatorCase{"DateWithoutAnAnswerDate", {{"Last-Modified", kModified}}, std::nullopt},
        ValidatorCase{
            "UnreadableDate", {{"Last-Modified", "yesterday"}, {"Date", kModified}}, std::nullopt},
        ValidatorCase{"Nothing", {}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvane::platform
