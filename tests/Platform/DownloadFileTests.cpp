#include <gtest/gtest.h>

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

INSTANTIATE_TEST_SUITE_P(
    Answers, DownloadFileAnswerTest,
    ::testing::Values(AnswerCase{"RestOfTheSameVersion",
                                 206,
                                 {{"Content-Range", "bytes 3-5/6"}, {"ETag", "\"v1\""}},
                                 true},
                      AnswerCase{"PieceFromTheWrongOffset",
                                 206,
                                 {{"Content-Range", "bytes 0-2/6"}, {"ETag", "\"v1\""}},
                                 false,
                                 true},
                      AnswerCase{"PieceOfAnotherVersion",
                                 206,
                                 {{"Content-Range", "bytes 3-5/6"}, {"ETag", "\"v2\""}},
                                 false,
                                 true},
                      AnswerCase{"WholeEntityStartsOver", 200, {{"ETag", "\"v2\""}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvane::platform
