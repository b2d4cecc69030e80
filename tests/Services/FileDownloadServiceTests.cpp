#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "Services/FileDownloadService.h"
#include "Services/ServicesTestSupport.h"

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;
using http::HTTPError;

class FileDownloadServiceTest : public ServiceFixture {
 protected:
  FileDownloadService service_{&shortRetryHandler};

  platform::ErrorPtr download(std::optional<std::string> from) {
    return callOffMainQueue([&] { service_.downloadFile(from); });
  }

  // The HTTP layer's error carried by the thrown failedDownloadLoaderModel.
  static const HTTPError& carried(const platform::ErrorPtr& error) {
    const ResourceError& resource = asResourceError(error);
    EXPECT_EQ(resource.code(), ResourceError::Code::failedDownloadLoaderModel);
    return asHTTPError(resource.cause());
  }

  [[nodiscard]] fs::path staging() const { return workFolder() / ".Tolvane.jar.download"; }
};

TEST_F(FileDownloadServiceTest, ReplacesTheJarAndAStaleStagingFile) {
  server_.servePieces("/files/a.jar", 200'000, /*announced=*/false);  // length unknown up front
  writeFile(jar(), "old launcher");
  writeFile(staging(), "left over by a killed run");

  const auto error = download("files/a.jar");

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_TRUE(readFile(jar()) == patternBytes(200'000));
  EXPECT_FALSE(fs::exists(staging()));
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/files/a.jar");
  EXPECT_EQ(requests[0].query, "");
}

TEST_F(FileDownloadServiceTest, WithoutPathFetchesTheManifestEndpointAsIs) {
  server_.serveBody("/loaderv3.php", R"({"files":[]})", "application/json");

  const auto error = download(std::nullopt);

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_EQ(readFile(jar()), R"({"files":[]})");
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].query, "os=macos");
}

// Also into a work folder that does not exist yet.
TEST_F(FileDownloadServiceTest, PathIsAppendedUnchangedAndEscapedOnlyOnTheWire) {
  server_.serveBody("/release 2/Лаунчер ёж.jar", "spaced");
  server_.serveBody("//lead.jar", "doubled");

  ASSERT_EQ(download("release 2/Лаунчер ёж.jar"), nullptr);
  EXPECT_EQ(readFile(jar()), "spaced");
  ASSERT_EQ(download("/lead.jar"), nullptr);
  EXPECT_EQ(readFile(jar()), "doubled");
  EXPECT_EQ(FileDownloadService::urlText("/lead.jar"), server_.url("//lead.jar"));
}

// A status that is not 2xx, or (0) a body cut short, on every attempt (other statuses and
// transport faults take the same path in the layer).
struct DownloadFault {
  const char* name;
  int status;
  friend void PrintTo(const DownloadFault& fault, std::ostream* out) { *out << fault.name; }
};

class FileDownloadFaultTest : public FileDownloadServiceTest,
                              public ::testing::WithParamInterface<DownloadFault> {};

TEST_P(FileDownloadFaultTest, NeverReplacesTheJar) {
  const int status = GetParam().status;
  const std::string oldJar = patternBytes(50'000, 7);
  writeFile(jar(), oldJar);
  if (status == 0) {
    server_.shortBody("/a.jar", 100'000, patternBytes(10'000));
  } else {
    server_.get("/a.jar", [status](const httplib::Request&, httplib::Response& response) {
      response.status = status;
      response.set_content("<html>error page</html>", "text/html");
    });
  }

  const auto error = download("a.jar");

  ASSERT_NE(error, nullptr);
  const HTTPError& retryFailure = carried(error);
  ASSERT_TRUE(retryFailure.isRequestRetryError());
  EXPECT_EQ(server_.requestCount(), 4u);
  EXPECT_EQ(readFile(jar()), oldJar);
  EXPECT_FALSE(fs::exists(staging()));
  const HTTPError& last = asHTTPError(retryFailure.originalError());
  if (status == 0) {
    EXPECT_TRUE(last.isSessionTaskError()) << last.localizedDescription();
    return;
  }
  EXPECT_TRUE(last.isResponseValidationError());
  EXPECT_EQ(last.responseCode(), status);
  EXPECT_EQ(asResourceError(error).message(),
            kCheckFailedPrefix + retryFailedText("Response status code was unacceptable: " +
                                                 std::to_string(status) + "."));
}

INSTANTIATE_TEST_SUITE_P(Faults, FileDownloadFaultTest,
                         ::testing::Values(DownloadFault{"NotFound", 404},
                                           DownloadFault{"CutShort", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileDownloadServiceTest, JarPlaceTakenByAFolderFailsAsAFileMoveAndKeepsTheFolder) {
  writeFile(jar() / "keep.txt", "user data");
  server_.serveBody("/a.jar", "launcher");

  const auto error = download("a.jar");

  const HTTPError& retryFailure = carried(error);
  ASSERT_TRUE(retryFailure.isRequestRetryError());
  const HTTPError& last = asHTTPError(retryFailure.originalError());
  EXPECT_TRUE(last.isDownloadedFileMoveError());
  EXPECT_EQ(last.destinationURL(), platform::URL::fileURL(jar()));
  EXPECT_EQ(server_.requestCount(), 4u);
  EXPECT_EQ(readFile(jar() / "keep.txt"), "user data");
  EXPECT_FALSE(fs::exists(staging()));
}

// No request is spent when the download has nowhere to go, and the player is told which
// item is in the way rather than that some file could not be created.
TEST_F(FileDownloadServiceTest, WorkFolderThatCannotHoldTheDownloadFailsAtOnceNamingIt) {
  writeFile(workFolder(), "a player's own file");
  server_.serveBody("/a.jar", "launcher");

  const auto error = download("a.jar");

  ASSERT_NE(error, nullptr);
  EXPECT_EQ(asResourceError(error).message(),
            kCheckFailedPrefix + "The file “Tolvane” couldn’t be saved in the folder “" +
                workFolder().parent_path().filename().string() +
                "” because a file with the same name already exists.");
  EXPECT_EQ(server_.requestCount(), 0u);
  EXPECT_EQ(readFile(workFolder()), "a player's own file");
}

}  // namespace
}  // namespace tolvane::test
