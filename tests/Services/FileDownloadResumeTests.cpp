#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Services/FileDownloadService.h"
#include "Services/ServicesTestSupport.h"
#include "Support/FlakyFile.h"

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSize = 1'000'000;
const FileModel kEntry{"files/big.jar", "hash-1", static_cast<std::int64_t>(kSize)};

// Interrupted launcher downloads against a server that breaks every response off after
// 40 % of the file.
class FileDownloadResumeTest : public ServiceFixture {
 protected:
  platform::ErrorPtr downloadEntry(const FileModel& entry,
                                   int retryLimit = RetryHandler::kRetryLimit) {
    FileDownloadService service(
        [retryLimit] { return std::make_shared<RetryHandler>(retryLimit, kShortRetryDelay); });
    return callOffMainQueue([&] { service.downloadEntry(entry); });
  }

  std::shared_ptr<FlakyFile> serve(FlakyFile::Version version,
                                   FlakyFile::Behaviour behaviour = {}) {
    return FlakyFile::serve(server_, "/files/big.jar", std::move(version), behaviour);
  }

  // The Range header of each request, "-" where there was none.
  std::vector<std::string> ranges() const {
    std::vector<std::string> seen;
    for (const auto& request : server_.requests())
      seen.push_back(request.header("Range").value_or("-"));
    return seen;
  }

  [[nodiscard]] fs::path partials() const {
    return workFolder() / FileDownloadService::kPartialFolderName;
  }

  const std::string body_ = patternBytes(kSize, 3);
  const std::string changed_ = patternBytes(kSize, 4);
};

struct ValidatorCase {
  const char* name;
  std::string entityTag;
  std::string lastModified;
  std::string expectedIfRange;
};

class ResumeValidatorTest : public FileDownloadResumeTest,
                            public ::testing::WithParamInterface<ValidatorCase> {};

TEST_P(ResumeValidatorTest, CompletesWithinOneRunSendingUnderTwiceTheSize) {
  const auto& param = GetParam();
  const auto file = serve({body_, param.entityTag, param.lastModified});

  const auto error = downloadEntry(kEntry);

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_EQ(readFile(jar()), body_);
  EXPECT_EQ(ranges(), (std::vector<std::string>{"-", "bytes=400000-", "bytes=800000-"}));
  EXPECT_EQ(server_.requests()[1].header("If-Range"), param.expectedIfRange);
  EXPECT_LT(file->bodyBytesSent(), 2 * kSize);
  EXPECT_FALSE(fs::exists(partials()));
}

INSTANTIATE_TEST_SUITE_P(
    Validators, ResumeValidatorTest,
    ::testing::Values(
        ValidatorCase{"StrongEntityTag", "\"v1\"", "Mon, 07 Dec 2026 10:00:00 GMT", "\"v1\""},
        ValidatorCase{"LastModifiedOnly", "", "Mon, 07 Dec 2026 10:00:00 GMT",
                      "Mon, 07 Dec 2026 10:00:00 GMT"},
        ValidatorCase{"WeakTagFallsBackToLastModified", "W/\"v1\"", "Mon, 07 Dec 2026 10:00:00 GMT",
                      "Mon, 07 Dec 2026 10:00:00 GMT"}),
    [](const auto& info) { return std::string(info.param.name); });

// Servers with which no partial file may be continued: each case ends in one exact way and
// never with a spliced jar.
struct UnsafeServerCase {
  const char* name;
  FlakyFile::Version version;
  FlakyFile::Behaviour behaviour;
  std::vector<std::string> ranges;
  bool succeeds;
};

class UnsafeServerTest : public FileDownloadResumeTest,
                         public ::testing::WithParamInterface<UnsafeServerCase> {};

TEST_P(UnsafeServerTest, StartsCleanAndNeverSplices) {
  const auto& param = GetParam();
  writeFile(jar(), "old launcher");
  serve(param.version, param.behaviour);

  const auto error = downloadEntry(kEntry);

  EXPECT_EQ(ranges(), param.ranges);
  if (param.succeeds) {
    ASSERT_EQ(error, nullptr) << error->localizedDescription();
    EXPECT_EQ(readFile(jar()), param.version.body);
  } else {
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(readFile(jar()), "old launcher");
  }
}

const std::string kBody = patternBytes(kSize, 3);
INSTANTIATE_TEST_SUITE_P(
    Servers, UnsafeServerTest,
    ::testing::Values(
        // Nothing to tell versions apart: every attempt starts over and fails the same way.
        UnsafeServerCase{"NoValidator", {kBody, "", ""}, {}, {"-", "-", "-", "-"}, false},
        // Range ignored: a 200 restarts the file instead of being appended.
        UnsafeServerCase{"NoRangeSupportRecovers",
                         {kBody, "\"v1\"", ""},
                         FlakyFile::Behaviour().cuttingOnly(1).withoutRanges(),
                         {"-", "bytes=400000-"},
                         true},
        UnsafeServerCase{"NoRangeSupport",
                         {kBody, "\"v1\"", ""},
                         FlakyFile::Behaviour().withoutRanges(),
                         {"-", "bytes=400000-", "bytes=400000-", "bytes=400000-"},
                         false},
        // The wrong piece: the partial file is dropped and the next attempt starts clean.
        UnsafeServerCase{"WrongContentRange",
                         {kBody, "\"v1\"", ""},
                         FlakyFile::Behaviour().skewingRanges(1),
                         {"-", "bytes=400000-", "-", "bytes=400000-"},
                         false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileDownloadResumeTest, FileChangedBetweenAttemptsIsFetchedWholeAgain) {
  const auto file = serve({body_, "\"v1\"", ""});
  file->changeAfter(1, {changed_, "\"v2\"", ""});

  ASSERT_EQ(downloadEntry(kEntry), nullptr);

  EXPECT_EQ(readFile(jar()), changed_);
  // v1's 40 %, then v2 from the start (If-Range no longer matches) and continued.
  EXPECT_EQ(ranges(),
            (std::vector<std::string>{"-", "bytes=400000-", "bytes=400000-", "bytes=800000-"}));
}

TEST_F(FileDownloadResumeTest, ChangedFileFromAServerIgnoringIfRangeIsNeverSpliced) {
  const auto file = serve({body_, "\"v1\"", ""}, FlakyFile::Behaviour().ignoringIfRange());
  file->changeAfter(1, {changed_, "\"v2\"", ""});

  const auto error = downloadEntry(kEntry);

  // v2's piece after v1's start is refused; the next attempt starts clean with v2.
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(ranges(), (std::vector<std::string>{"-", "bytes=400000-", "-", "bytes=400000-"}));
  EXPECT_FALSE(fs::exists(jar()));
}

// A run that ends after a failed attempt (killed while waiting to retry, or out of retries)
// leaves what the next run needs; the next run continues only the same entry.
struct NextRunCase {
  const char* name;
  FileModel entry;
  std::string firstRange;
};

class NextRunTest : public FileDownloadResumeTest,
                    public ::testing::WithParamInterface<NextRunCase> {};

TEST_P(NextRunTest, ContinuesOnlyTheSameEntry) {
  const auto file = serve({body_, "\"v1\"", ""});
  ASSERT_NE(downloadEntry(kEntry, /*retryLimit=*/0), nullptr);
  ASSERT_TRUE(fs::exists(partials() / FileDownloadService::kResumeRecordName));

  ASSERT_EQ(downloadEntry(GetParam().entry), nullptr);

  EXPECT_EQ(readFile(jar()), body_);
  EXPECT_EQ(ranges().at(1), GetParam().firstRange);
  EXPECT_FALSE(fs::exists(partials()));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, NextRunTest,
    ::testing::Values(NextRunCase{"SameEntry", kEntry, "bytes=400000-"},
                      NextRunCase{"OtherHash", {kEntry.path, "hash-2", kEntry.size}, "-"},
                      NextRunCase{"OtherSize", {kEntry.path, kEntry.hash, 5}, "-"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileDownloadResumeTest, DownloadWithoutAnEntryLeavesNothingForALaterRun) {
  serve({body_, "\"v1\"", ""});
  FileDownloadService service([] { return std::make_shared<RetryHandler>(0, kShortRetryDelay); });

  ASSERT_NE(callOffMainQueue([&] { service.downloadFile(kEntry.path); }), nullptr);

  EXPECT_FALSE(fs::exists(partials()));
}

TEST_F(FileDownloadResumeTest, ReportsProgressOfTheWholeFileThenTheEnd) {
  serve({body_, "\"v1\"", ""});
  std::vector<FileDownloadService::Progress> reports;
  FileDownloadService service(
      &shortRetryHandler,
      [&reports](const FileDownloadService::Progress& progress) { reports.push_back(progress); });

  ASSERT_EQ(callOffMainQueue([&] { service.downloadEntry(kEntry); }), nullptr);

  ASSERT_GE(reports.size(), 2u);
  EXPECT_TRUE(reports.back().finished);
  const auto& last = reports[reports.size() - 2];
  EXPECT_FALSE(last.finished);
  EXPECT_EQ(last.bytes, static_cast<std::int64_t>(kSize));
  EXPECT_EQ(last.expected, static_cast<std::int64_t>(kSize));
}

}  // namespace
}  // namespace tolvane::test
