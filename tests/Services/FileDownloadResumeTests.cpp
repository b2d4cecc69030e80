#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
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
const std::string k40 = "bytes=400000-";  // where a response broken off at 40 % continues
const std::string k80 = "bytes=800000-";

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
  friend void PrintTo(const ValidatorCase& row, std::ostream* out) { *out << row.name; }
};

class ResumeValidatorTest : public FileDownloadResumeTest,
                            public ::testing::WithParamInterface<ValidatorCase> {};

TEST_P(ResumeValidatorTest, CompletesWithinOneRunSendingUnderTwiceTheSize) {
  const auto& param = GetParam();
  const auto file = serve({body_, param.entityTag, param.lastModified});

  const auto error = downloadEntry(kEntry);

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_EQ(readFile(jar()), body_);
  EXPECT_EQ(ranges(), (std::vector<std::string>{"-", k40, k80}));
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

// Servers with which no partial file may be continued, and a file that changes after the
// first response: each case ends in one exact way and never with a spliced jar.
struct UnsafeServerCase {
  const char* name;
  FlakyFile::Behaviour behaviour;
  bool changes;    // the second and later responses serve another version
  bool entityTag;  // else no validator at all
  std::vector<std::string> ranges;
  bool succeeds;
  friend void PrintTo(const UnsafeServerCase& row, std::ostream* out) { *out << row.name; }
};

class UnsafeServerTest : public FileDownloadResumeTest,
                         public ::testing::WithParamInterface<UnsafeServerCase> {};

TEST_P(UnsafeServerTest, StartsCleanAndNeverSplices) {
  const auto& param = GetParam();
  writeFile(jar(), "old launcher");
  const auto file = serve({body_, param.entityTag ? "\"v1\"" : "", ""}, param.behaviour);
  if (param.changes) file->changeAfter(1, {changed_, "\"v2\"", ""});

  const auto error = downloadEntry(kEntry);

  EXPECT_EQ(ranges(), param.ranges);
  if (param.succeeds) {
    ASSERT_EQ(error, nullptr) << error->localizedDescription();
    EXPECT_EQ(readFile(jar()), param.changes ? changed_ : body_);
  } else {
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(readFile(jar()), "old launcher");
  }
}

using B = FlakyFile::Behaviour;
INSTANTIATE_TEST_SUITE_P(
    Servers, UnsafeServerTest,
    ::testing::Values(
        // Nothing to tell versions apart: every attempt starts over and fails the same way.
        UnsafeServerCase{"NoValidator", {}, false, false, {"-", "-", "-", "-"}, false},
        // Range ignored: a 200 restarts the file instead of being appended.
        UnsafeServerCase{
            "NoRanges", B{.dropLimit = 1, .ranges = false}, false, true, {"-", k40}, true},
        // The wrong piece: the partial file is dropped and the next attempt starts clean.
        UnsafeServerCase{"WrongRange", B{.rangeSkew = 1}, false, true, {"-", k40, "-", k40}, false},
        // v1's 40 %, then v2 from the start (If-Range no longer matches) and continued.
        UnsafeServerCase{"FileChanged", {}, true, true, {"-", k40, k40, k80}, true},
        // v2's piece after v1's start is refused; the next attempt starts clean with v2.
        UnsafeServerCase{"ChangedIfRangeIgnored",
                         B{.honoursIfRange = false},
                         true,
                         true,
                         {"-", k40, "-", k40},
                         false}),
    [](const auto& info) { return std::string(info.param.name); });

// A run that ends after a failed attempt (killed while waiting to retry, or out of retries)
// leaves what the next run needs; the next run continues only the same entry.
struct NextRunCase {
  const char* name;
  FileModel entry;
  std::string firstRange;
  friend void PrintTo(const NextRunCase& row, std::ostream* out) { *out << row.name; }
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
    ::testing::Values(NextRunCase{"SameEntry", kEntry, k40},
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
