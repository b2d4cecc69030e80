#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "Services/FileDownloadService.h"
#include "Services/ServicesTestSupport.h"
#include "Support/TestArchives.h"

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;
using http::HTTPError;

class FileDownloadServiceTest : public ServiceFixture {
 protected:
  FileDownloadService service_{folder_, session(), &shortRetryHandler};

  platform::ErrorPtr download(std::optional<std::string> from) {
    return callOffMainQueue([&] { service_.downloadFile(from); });
  }

  // The HTTP layer's error carried by the thrown failedDownloadLoaderModel.
  static const HTTPError& carried(const platform::ErrorPtr& error) {
    const ResourceError& resource = asResourceError(error);
    EXPECT_EQ(resource.code(), ResourceError::Code::failedDownloadLoaderModel);
    return asHTTPError(resource.cause());
  }

  [[nodiscard]] fs::path staging() const { return folder_.launcherStaging(); }
};

TEST_F(FileDownloadServiceTest, ReplacesTheJarAndAStaleStagingFile) {
  const std::string launcher = testJarOfSize(200'000);
  // Length unknown up front: sent chunked.
  server_.get("/files/a.jar", [&launcher](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider(
        "application/java-archive", [&launcher](std::size_t offset, httplib::DataSink& sink) {
          if (offset == launcher.size()) {
            sink.done();
            return true;
          }
          return sink.write(launcher.data() + offset,
                            std::min<std::size_t>(64 * 1024, launcher.size() - offset));
        });
  });
  writeFile(jar(), "old launcher");
  writeFile(staging(), "left over by a killed run");

  const auto error = download("files/a.jar");

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_TRUE(readFile(jar()) == launcher);
  EXPECT_FALSE(fs::exists(staging()));
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/files/a.jar");
  EXPECT_EQ(requests[0].query, "");
}

TEST_F(FileDownloadServiceTest, WithoutPathFetchesTheManifestEndpointAsIs) {
  server_.serveBody("/loaderv3.php", testJar("served at the manifest's address"));

  const auto error = download(std::nullopt);

  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  EXPECT_EQ(readFile(jar()), testJar("served at the manifest's address"));
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].query, "os=macos");
}

// Also into a work folder that does not exist yet.
TEST_F(FileDownloadServiceTest, PathIsAppendedUnchangedAndEscapedOnlyOnTheWire) {
  server_.serveBody("/release 2/Лаунчер ёж.jar", testJar("spaced"));
  server_.serveBody("//lead.jar", testJar("doubled"));

  ASSERT_EQ(download("release 2/Лаунчер ёж.jar"), nullptr);
  EXPECT_EQ(readFile(jar()), testJar("spaced"));
  ASSERT_EQ(download("/lead.jar"), nullptr);
  EXPECT_EQ(readFile(jar()), testJar("doubled"));
  EXPECT_EQ(FileDownloadService::urlText("/lead.jar"), server_.url("//lead.jar"));
}

// Answers that must not become the jar, on every attempt: each is a failed attempt that goes
// through the retries, and the last one's failure is what the player reads.
struct DownloadFault {
  const char* name;
  std::function<void(LoopbackServer&)> serve;
  std::string lastFailure;  // the description the alert ends with
  friend void PrintTo(const DownloadFault& fault, std::ostream* out) { *out << fault.name; }
};

class FileDownloadFaultTest : public FileDownloadServiceTest,
                              public ::testing::WithParamInterface<DownloadFault> {};

TEST_P(FileDownloadFaultTest, NeverReplacesTheJar) {
  const std::string oldJar = testJarOfSize(50'000, 7);
  writeFile(jar(), oldJar);
  GetParam().serve(server_);

  const auto error = download("a.jar");

  ASSERT_NE(error, nullptr);
  ASSERT_TRUE(carried(error).isRequestRetryError());
  EXPECT_EQ(asResourceError(error).message(),
            kCheckFailedPrefix + retryFailedText(GetParam().lastFailure));
  EXPECT_EQ(server_.requestCount(), 4u);
  EXPECT_EQ(readFile(jar()), oldJar);
  EXPECT_FALSE(fs::exists(staging()));
}

void answer(LoopbackServer& server, int status, std::string body, std::string type,
            std::vector<std::pair<std::string, std::string>> headers = {}) {
  server.get("/a.jar", [=](const httplib::Request&, httplib::Response& response) {
    response.status = status;
    for (const auto& [name, value] : headers) response.set_header(name, value);
    response.set_content(body, type);
  });
}

const std::string kNotAnArchive =
    "Custom response validation failed with error: The downloaded file is not a Java archive.";

INSTANTIATE_TEST_SUITE_P(
    Faults, FileDownloadFaultTest,
    ::testing::Values(
        DownloadFault{"NotFound",
                      [](LoopbackServer& server) {
                        answer(server, 404, "<html>error page</html>", "text/html");
                      },
                      "Response status code was unacceptable: 404."},
        // Other transport faults take the same path in the layer.
        DownloadFault{"CutShort",
                      [](LoopbackServer& server) {
                        server.shortBody("/a.jar", 100'000, patternBytes(10'000));
                      },
                      "URLSessionTask failed with error: The network connection was lost."},
        DownloadFault{"MaintenancePage",
                      [](LoopbackServer& server) {
                        answer(server, 200, "<html>maintenance</html>", "text/html");
                      },
                      kNotAnArchive},
        DownloadFault{"EmptyBody",
                      [](LoopbackServer& server) { answer(server, 200, "", "text/plain"); },
                      kNotAnArchive},
        // A piece of the jar, as if it were all of it.
        DownloadFault{"PartialContentNobodyAskedFor",
                      [](LoopbackServer& server) {
                        answer(server, 206, testJarOfSize(300'000).substr(0, 120'000),
                               "application/java-archive",
                               {{"Content-Range", "bytes 0-119999/300000"}});
                      },
                      "URLSessionTask failed with error: The server returned a bad response."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileDownloadServiceTest, JarPlaceTakenByAFolderFailsAsAFileMoveAndKeepsTheFolder) {
  writeFile(jar() / "keep.txt", "user data");
  server_.serveBody("/a.jar", testJar("launcher"));

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
