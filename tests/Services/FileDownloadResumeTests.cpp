#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Services/FileDownloadService.h"
#include "Services/ServicesTestSupport.h"
#include "Support/FlakyFile.h"
#include "Support/TestArchives.h"

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSize = 1'000'000;
const FileModel kEntry{"files/big.jar", "hash-1", static_cast<std::int64_t>(kSize)};
const std::string k40 = "bytes=400000-";  // where a response broken off at 40 % continues
const std::string k80 = "bytes=800000-";
const std::string kModified = "Mon, 07 Dec 2026 10:00:00 GMT";
const std::string kDayLater = "Tue, 08 Dec 2026 10:00:00 GMT";

// Interrupted launcher downloads against a server that breaks every response off after
// 40 % of the file.
class FileDownloadResumeTest : public ServiceFixture {
 protected:
  platform::ErrorPtr downloadEntry(const FileModel& entry,
                                   int retryLimit = RetryHandler::kRetryLimit) {
    FileDownloadService service(folder_, session(), [retryLimit] {
      return std::make_shared<RetryHandler>(retryLimit, kShortRetryDelay);
    });
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

  [[nodiscard]] fs::path partials() const { return folder_.partialFolder(); }

  const std::string body_ = testJarOfSize(kSize, 3);
  const std::string changed_ = testJarOfSize(kSize, 4);
};

struct ValidatorCase {
  const char* name;
  FlakyFile::Version validators = {};  // without the body
  std::string expectedIfRange;
  friend void PrintTo(const ValidatorCase& row, std::ostream* out) { *out << row.name; }
};

class ResumeValidatorTest : public FileDownloadResumeTest,
                            public ::testing::WithParamInterface<ValidatorCase> {};

TEST_P(ResumeValidatorTest, CompletesWithinOneRunSendingUnderTwiceTheSize) {
  auto version = GetParam().validators;
  version.body = body_;
  const auto file = serve(version);

  const auto error = downloadEntry(kEntry);

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_EQ(readFile(jar()), body_);
  EXPECT_EQ(ranges(), (std::vector<std::string>{"-", k40, k80}));
  EXPECT_EQ(server_.requests()[1].header("If-Range"), GetParam().expectedIfRange);
  EXPECT_LT(file->bodyBytesSent(), 2 * kSize);
  EXPECT_FALSE(fs::exists(partials()));
}

INSTANTIATE_TEST_SUITE_P(
    Validators, ResumeValidatorTest,
    ::testing::Values(
        ValidatorCase{"StrongEntityTag", {"", "\"v1\"", kModified, kDayLater}, "\"v1\""},
        ValidatorCase{"LastModifiedOnly", {"", "", kModified, kDayLater}, kModified}),
    [](const auto& info) { return std::string(info.param.name); });

// Servers with which no partial file may be continued, and a file that changes after the
// first response: each case ends in one exact way and never with a spliced jar.
struct UnsafeServerCase {
  const char* name;
  FlakyFile::Behaviour behaviour = {};
  FlakyFile::Version validators = {};  // without the body
  // The second and later responses serve another version, with these validators and size.
  std::optional<FlakyFile::Version> changed = std::nullopt;
  std::size_t changedSize = kSize;
  std::vector<std::string> ranges;
  bool succeeds;
  friend void PrintTo(const UnsafeServerCase& row, std::ostream* out) { *out << row.name; }
};

class UnsafeServerTest : public FileDownloadResumeTest,
                         public ::testing::WithParamInterface<UnsafeServerCase> {};

TEST_P(UnsafeServerTest, StartsCleanAndNeverSplices) {
  const auto& param = GetParam();
  const std::string oldJar = testJar("old launcher");
  writeFile(jar(), oldJar);
  auto version = param.validators;
  version.body = body_;
  const auto file = serve(version, param.behaviour);
  const std::string changed = testJarOfSize(param.changedSize, 4);
  if (param.changed) {
    auto next = *param.changed;
    next.body = changed;
    file->changeAfter(1, next);
  }

  const auto error = downloadEntry(kEntry);

  EXPECT_EQ(ranges(), param.ranges);
  if (param.succeeds) {
    ASSERT_EQ(error, nullptr) << error->localizedDescription();
    EXPECT_TRUE(readFile(jar()) == (param.changed ? changed : body_)) << "not one whole version";
  } else {
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(readFile(jar()), oldJar);
  }
}

using B = FlakyFile::Behaviour;
using V = FlakyFile::Version;
const V kTagged{"", "\"v1\"", "", ""};
const V kRetagged{"", "\"v2\"", "", ""};
INSTANTIATE_TEST_SUITE_P(
    Servers, UnsafeServerTest,
    ::testing::Values(
        // Nothing to tell versions apart: every attempt starts over and fails the same way.
        UnsafeServerCase{.name = "NoValidator", .ranges = {"-", "-", "-", "-"}, .succeeds = false},
        // Range ignored: a 200 restarts the file instead of being appended.
        UnsafeServerCase{.name = "NoRanges",
                         .behaviour = B{.dropLimit = 1, .ranges = false},
                         .validators = kTagged,
                         .ranges = {"-", k40},
                         .succeeds = true},
        // The wrong piece: the partial file is dropped and the next attempt starts clean.
        UnsafeServerCase{.name = "WrongRange",
                         .behaviour = B{.rangeSkew = 1},
                         .validators = kTagged,
                         .ranges = {"-", k40, "-", k40},
                         .succeeds = false},
        // v1's 40 %, then v2 from the start (If-Range no longer matches) and continued.
        UnsafeServerCase{.name = "FileChanged",
                         .validators = kTagged,
                         .changed = kRetagged,
                         .ranges = {"-", k40, k40, k80},
                         .succeeds = true},
        // v2's piece after v1's start is refused; the next attempt starts clean with v2.
        UnsafeServerCase{.name = "ChangedIfRangeIgnored",
                         .behaviour = B{.honoursIfRange = false},
                         .validators = kTagged,
                         .changed = kRetagged,
                         .ranges = {"-", k40, "-", k40},
                         .succeeds = false},
        // A gzip-coded body was written decoded: no range of the coded body continues it.
        UnsafeServerCase{.name = "CodedBody",
                         .behaviour = B{.dropLimit = 1, .gzip = true},
                         .validators = kTagged,
                         .ranges = {"-", "-"},
                         .succeeds = true},
        // A rest that does not show the validator proves nothing about its version.
        UnsafeServerCase{
            .name = "RestWithoutTheValidator",
            .behaviour = B{.dropLimit = 1, .honoursIfRange = false, .tagOnPartial = false},
            .validators = kTagged,
            .changed = kRetagged,
            .ranges = {"-", k40, "-"},
            .succeeds = true},
        // Nor does a tag the server kept for a file of another length.
        UnsafeServerCase{.name = "RestOfAFileOfAnotherLength",
                         .behaviour = B{.dropLimit = 1},
                         .validators = kTagged,
                         .changed = kTagged,
                         .changedSize = kSize + 1000,
                         .ranges = {"-", k40, "-"},
                         .succeeds = true},
        // Neither a weak tag nor a date in the answer's own second may go into If-Range: the
        // file can be republished within that second under the same date.
        UnsafeServerCase{.name = "WeakEntityTag",
                         .behaviour = B{.dropLimit = 1},
                         .validators = {"", "W/\"v1\"", kModified, kDayLater},
                         .changed = V{"", "W/\"v2\"", kModified, kDayLater},
                         .ranges = {"-", "-"},
                         .succeeds = true},
        UnsafeServerCase{.name = "DateInTheAnswersSecond",
                         .behaviour = B{.dropLimit = 1},
                         .validators = {"", "", kModified, kModified},
                         .changed = V{"", "", kModified, kModified},
                         .ranges = {"-", "-"},
                         .succeeds = true}),
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
  ASSERT_TRUE(fs::exists(folder_.partialRecord()));

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
  FileDownloadService service(folder_, session(),
                              [] { return std::make_shared<RetryHandler>(0, kShortRetryDelay); });

  ASSERT_NE(callOffMainQueue([&] { service.downloadFile(kEntry.path); }), nullptr);

  EXPECT_FALSE(fs::exists(partials()));
}

TEST_F(FileDownloadResumeTest, ReportsProgressOfTheWholeFileThenTheEnd) {
  serve({body_, "\"v1\"", ""});
  std::vector<FileDownloadService::Progress> reports;
  FileDownloadService service(
      folder_, session(), &shortRetryHandler,
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
