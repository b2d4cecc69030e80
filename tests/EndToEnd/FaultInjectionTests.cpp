#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "App/InstallerSteps.h"
#include "EndToEnd/HeadlessRunFixture.h"
#include "Platform/FileLock.h"
#include "Support/WaitUntil.h"

// The program against servers, disks and machines that misbehave. Every case checks what the
// player is told and that the launcher jar and the stored entry are left the way a sound
// program leaves them.
namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

const std::string kNewPath = "files/v2.jar";
const std::string kCreateFolderFailed = "Ошибка при создании папки:\n\n";
const std::string kUnzipFailed = "Не удалось разархивировать JDK в папке назначения:\n\n";
const std::string kLaunchFailed = "Не удалось запустить лаунчер при помощи JDK:\n\n";

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

bool isRoot() { return ::geteuid() == 0; }

// Root alone is not enough in a container without the right to mount.
bool canMount() {
  if (!isRoot()) return false;
  platform::Process probe("/usr/bin/unshare", {"--mount", "--propagation", "private", "/bin/sh",
                                               "-c", "mount -t tmpfs none /mnt"});
  probe.run();
  return probe.waitUntilExit().succeeded();
}

// A fixture whose scripted routes win over the generic release and manifest routes: they
// are registered first, and the server tries routes in order.
class ScriptedServerTest : public HeadlessRunTest {
 public:
  using HeadlessRunTest::HeadlessRunTest;

  LoopbackServer& server() { return server_; }

 protected:
  virtual void scriptServer() {}

  void SetUp() override {
    scriptServer();
    HeadlessRunTest::SetUp();
  }

  // Version 1 is installed and the manifest now names version 2 at kNewPath.
  void offerVersionTwo() {
    installVersionOne();
    if (HasFatalFailure()) return;
    setManifest({{kNewPath, "hash-2", 11}});
  }

  // Version 1 is still installed byte for byte and still recorded as installed, so the
  // next good run downloads version 2 again; no staging file is left behind.
  void expectVersionOneKept() {
    EXPECT_EQ(readFile(jar()), "launcher v1");
    EXPECT_EQ(storedHash(), "hash-1");
    EXPECT_FALSE(fs::exists(workFolder() / ".Tolvane.jar.download"));
  }
};

// ---- Downloads that fail at every attempt -----------------------------------------------------

struct DownloadFault {
  std::string name;
  std::function<void(ScriptedServerTest&)> script;
  std::string lastFailure;  // how the fourth attempt failed
  bool resetConnections = false;
  const char* requestTimeout = nullptr;  // seconds, for the failing run only
};

void PrintTo(const DownloadFault& fault, std::ostream* out) { *out << fault.name; }

class DownloadFaultTest : public ScriptedServerTest,
                          public ::testing::WithParamInterface<DownloadFault> {
 public:
  DownloadFaultTest() : ScriptedServerTest(serverOptions()) {}

  // Where a redirect to plain HTTP would lead; it must never be asked.
  LoopbackServer plain_{plainOptions()};

 protected:
  static LoopbackServer::Options plainOptions() {
    LoopbackServer::Options options;
    options.https = false;
    return options;
  }
  static LoopbackServer::Options serverOptions() {
    LoopbackServer::Options options;
    options.resetConnections = GetParam().resetConnections;
    return options;
  }
  void scriptServer() override {
    plain_.serveBody("/" + kNewPath, "launcher v2");
    GetParam().script(*this);
  }
};

TEST_P(DownloadFaultTest, OldJarAndEntrySurviveAndTheLastFailureIsReported) {
  offerVersionTwo();
  if (GetParam().requestTimeout)
    home_.setEnvironment(RetryHandler::kRequestTimeoutVariable, GetParam().requestTimeout);

  expectFailed(runInstaller(), kUpdating, kCheckFailed + retryFailed(GetParam().lastFailure));

  expectVersionOneKept();
  EXPECT_EQ(newDownloads(), std::vector<std::string>(4, "/" + kNewPath));
  EXPECT_EQ(plain_.requestCount(), 0u);
}

const std::string kBody = "the first bytes of version 2";

// An HTML error page; it must never become the jar.
std::function<void(ScriptedServerTest&)> errorPage(int status) {
  return [status](ScriptedServerTest& t) {
    t.server().get("/" + kNewPath, [status](const httplib::Request&, httplib::Response& response) {
      response.status = status;
      response.set_content("<html>" + std::to_string(status) + "</html>", "text/html");
    });
  };
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DownloadFaultTest,
    ::testing::Values(
        DownloadFault{"CutShortThenClosed",
                      // With validators, as nginx and Apache send them: the transport keeps a
                      // partial file after each attempt, which must not outlive the run.
                      [](ScriptedServerTest& t) {
                        t.server().shortBody("/" + kNewPath, 100000, kBody,
                                             {{"ETag", "\"5f3a-2b\""},
                                              {"Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT"}});
                      },
                      taskFailed("The network connection was lost.")},
        DownloadFault{
            "ResetMidBody",
            [](ScriptedServerTest& t) { t.server().shortBody("/" + kNewPath, 100000, kBody); },
            taskFailed("The network connection was lost."), true},
        DownloadFault{
            "StalledPastTheTimeOut",
            [](ScriptedServerTest& t) { t.server().stall("/" + kNewPath, 100000, kBody); },
            taskFailed("The request timed out."), false, "0.5"},
        DownloadFault{"NotFoundPage", errorPage(404),
                      "Response status code was unacceptable: 404."},
        DownloadFault{"ServerErrorPage", errorPage(500),
                      "Response status code was unacceptable: 500."},
        DownloadFault{
            "RedirectFromHTTPSToHTTP",
            [](ScriptedServerTest& t) {
              auto& test = static_cast<DownloadFaultTest&>(t);
              const std::string target = test.plain_.url("/" + kNewPath);
              t.server().get("/" + kNewPath,
                             [target](const httplib::Request&, httplib::Response& response) {
                               response.set_redirect(target, 302);
                             });
            },
            taskFailed("The resource could not be loaded because the App Transport Security policy "
                       "requires the use of a secure connection.")}),
    [](const ::testing::TestParamInfo<DownloadFault>& info) { return info.param.name; });

// ---- Downloads that succeed in the end ---------------------------------------------------------

class RecoveringDownloadTest : public ScriptedServerTest {
 protected:
  static constexpr std::size_t kSize = 256 * 1024;

  // The first attempt gets half of one body and a closed connection; later attempts get a
  // whole different body (the release changed meanwhile). A server that honours Range
  // without looking at If-Range, as broken servers do, would splice the two if the client
  // continued the first part.
  void scriptServer() override {
    server_.get("/" + kNewPath, [this](const httplib::Request& request,
                                       httplib::Response& response) {
      const int attempt = ++attempts_;
      const std::string body = patternBytes(kSize, attempt == 1 ? 1 : 2);
      std::size_t first = 0;
      if (const auto range = request.get_header_value("Range"); range.rfind("bytes=", 0) == 0) {
        first = std::stoul(range.substr(6));
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                 std::to_string(kSize - 1) + "/" +
                                                 std::to_string(kSize));
      }
      response.set_header("ETag", attempt == 1 ? "\"one\"" : "\"two\"");
      const_cast<httplib::Request&>(request).ranges.clear();
      response.set_content_provider(
          kSize - first, "application/java-archive",
          [this, body, first, attempt](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (attempt == 1) {
              sink.write(body.data(), kSize / 2);
              server_.pause(std::chrono::milliseconds(100));  // let the half arrive first
              return false;
            }
            return sink.write(body.data() + first + offset, kSize - first - offset);
          });
    });
  }

  std::atomic<int> attempts_{0};
};

TEST_F(RecoveringDownloadTest, BodyThatChangesBetweenAttemptsIsNeverSpliced) {
  offerVersionTwo();

  expectLaunched(runInstaller(), kUpdating);

  // The second attempt continues the first part, but its answer carries the new ETag: it is
  // refused with the partial file, and the third starts clean.
  EXPECT_EQ(attempts_.load(), 3);
  EXPECT_TRUE(readFile(jar()) == patternBytes(kSize, 2))
      << "the jar is not exactly the second body";
  EXPECT_EQ(storedHash(), "hash-2");
}

class RedirectTest : public ScriptedServerTest, public ::testing::WithParamInterface<int> {
 protected:
  void scriptServer() override {
    server_.get("/" + kNewPath,
                [status = GetParam()](const httplib::Request&, httplib::Response& response) {
                  response.set_redirect("/releases/moved.jar", status);
                });
  }
};

TEST_P(RedirectTest, RedirectOnTheSameServerIsFollowed) {
  offerVersionTwo();
  publish("releases/moved.jar", "launcher v2");

  expectLaunched(runInstaller(), kUpdating);

  EXPECT_EQ(readFile(jar()), "launcher v2");
  EXPECT_EQ(newDownloads(), (std::vector<std::string>{"/" + kNewPath, "/releases/moved.jar"}));
  EXPECT_EQ(storedHash(), "hash-2");
}

INSTANTIATE_TEST_SUITE_P(Statuses, RedirectTest, ::testing::Values(301, 302));

// ---- Manifests that cannot be used, on a clean machine -----------------------------------------

struct ManifestFault {
  std::string name;
  std::function<void(ScriptedServerTest&)> script;
  std::string failure;  // the decoding failure the player is told about
};

void PrintTo(const ManifestFault& fault, std::ostream* out) { *out << fault.name; }

const std::string kNotReadable =
    "Response could not be decoded because of error:\nThe data couldn\u2019t be read because it "
    "isn\u2019t in the "
    "correct format.";
const std::string kMissing =
    "Response could not be decoded because of error:\nThe data couldn\u2019t be read because it is "
    "missing.";
const std::string kTooLarge =
    "Response could not be decoded because of error:\nThe resource exceeds the maximum size.";

// A well-formed manifest of about 50 MiB (an empty file list and a long padding string), sent
// in 64 KiB pieces, with or without an announced length. Read whole, it would decode into a
// manifest without files and fail differently.
void serveHugeManifest(ScriptedServerTest& t, bool announced) {
  constexpr std::size_t kTotal = 50 * 1024 * 1024;
  auto piece = [](std::size_t offset, httplib::DataSink& sink) {
    const std::string head = R"({"files":[],"padding":")";
    const std::string tail = "\"}";
    std::string chunk(std::min<std::size_t>(64 * 1024, kTotal - offset), 'x');
    if (offset == 0) chunk.replace(0, head.size(), head);
    if (offset + chunk.size() == kTotal)
      chunk.replace(chunk.size() - tail.size(), tail.size(), tail);
    return sink.write(chunk.data(), chunk.size());
  };
  t.server().get("/loaderv3.php",
                 [announced, piece](const httplib::Request&, httplib::Response& response) {
                   if (announced) {
                     response.set_content_provider(
                         kTotal, "application/json",
                         [piece](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                           return piece(offset, sink);
                         });
                     return;
                   }
                   response.set_chunked_content_provider(
                       "application/json", [piece](std::size_t offset, httplib::DataSink& sink) {
                         if (offset < kTotal) return piece(offset, sink);
                         sink.done();
                         return true;
                       });
                 });
}

class ManifestFaultTest : public ScriptedServerTest,
                          public ::testing::WithParamInterface<ManifestFault> {
 protected:
  void scriptServer() override { GetParam().script(*this); }
};

TEST_P(ManifestFaultTest, CleanMachineStopsWithTheDecodingFailureAndStoresNothing) {
  const auto outcome = runInstaller();

  expectFailed(outcome, kInstalling, kCheckFailed + retryFailed(GetParam().failure));
  EXPECT_EQ(server_.requestCount(), 4u);
  EXPECT_FALSE(storedEntry());
  EXPECT_FALSE(fs::exists(jar()));
}

void setText(ScriptedServerTest& t, std::string text, int status = 200) {
  t.server().get("/loaderv3.php", [text = std::move(text), status](const httplib::Request&,
                                                                   httplib::Response& response) {
    response.status = status;
    if (!text.empty()) response.set_content(text, "application/json");
  });
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ManifestFaultTest,
    ::testing::Values(
        ManifestFault{"NotJSON",
                      [](ScriptedServerTest& t) { setText(t, "<html>maintenance</html>"); },
                      kNotReadable},
        ManifestFault{"WrongShape",
                      [](ScriptedServerTest& t) { setText(t, R"({"loader":{"path":"a.jar"}})"); },
                      kMissing},
        ManifestFault{"SizeAsText",
                      [](ScriptedServerTest& t) {
                        setText(t, R"({"files":[{"path":"a.jar","hash":"h","size":"11"}]})");
                      },
                      kNotReadable},
        ManifestFault{"FilesNotAnArray",
                      [](ScriptedServerTest& t) {
                        setText(t, R"({"files":{"path":"a.jar","hash":"h","size":11}})");
                      },
                      kNotReadable},
        ManifestFault{
            "InvalidUTF8InPath",
            [](ScriptedServerTest& t) {
              setText(t, "{\"files\":[{\"path\":\"a\xff\xfe.jar\",\"hash\":\"h\",\"size\":11}]}");
            },
            kNotReadable},
        ManifestFault{"EmptyBody", [](ScriptedServerTest& t) { setText(t, ""); },
                      "Response could not be serialized, input data was nil or zero length."},
        ManifestFault{"NoContent", [](ScriptedServerTest& t) { setText(t, "", 204); },
                      "Empty response could not be serialized to type: LoaderModel. Use Empty as "
                      "the expected type "
                      "for such responses."},
        ManifestFault{"FiftyMiBAnnounced",
                      [](ScriptedServerTest& t) { serveHugeManifest(t, true); }, kTooLarge},
        ManifestFault{"FiftyMiBChunked", [](ScriptedServerTest& t) { serveHugeManifest(t, false); },
                      kTooLarge}),
    [](const ::testing::TestParamInfo<ManifestFault>& info) { return info.param.name; });

// ---- The player's machine ----------------------------------------------------------------------

class MachineFaultTest : public ScriptedServerTest {
 protected:
  // The child in a mount namespace of its own, so mounts never reach the rest of the system.
  static ChildSetup withMounts(std::string commands) {
    return {{"/usr/bin/unshare", "--mount", "--propagation", "private"},
            std::move(commands) + " || exit 98\n"};
  }
};

TEST_F(MachineFaultTest, HomeFolderNotWritable) {
  if (!isRoot()) GTEST_SKIP() << "needs root to run the program as another user";
  // The home belongs to root; the program runs as nobody.
  fs::permissions(home_.root(), fs::perms(0755));
  fs::permissions(home_.home(), fs::perms(0755));

  const auto outcome =
      runInstaller({{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}, ""});

  expectFailed(outcome, kInstalling,
               kCreateFolderFailed + "Permission denied: \"" + workFolder().string() + "\"");
  EXPECT_FALSE(fs::exists(workFolder()));
  EXPECT_FALSE(fs::exists(settingsFile()));
}

TEST_F(MachineFaultTest, RegularFileWhereTheWorkFolderBelongs) {
  writeFile(workFolder(), "a player's own file");

  expectFailed(runInstaller(), kInstalling,
               kCreateFolderFailed + "File exists: \"" + workFolder().string() + "\"");

  EXPECT_EQ(readFile(workFolder()), "a player's own file");
  EXPECT_FALSE(storedEntry());
}

TEST_F(MachineFaultTest, DiskFillingUpDuringTheDownload) {
  offerVersionTwo();
  publish(kNewPath, patternBytes(4 * 1024 * 1024));

  // Every file the program writes is limited to 1 MiB (room for the settings and the
  // transport's certificate bundle); the jar needs more.
  const auto outcome = runInstaller({{"/usr/bin/prlimit", "--fsize=1048576"}, ""});

  expectFailed(outcome, kUpdating,
               kCheckFailed + retryFailed(taskFailed("The file could not be written.")));
  expectVersionOneKept();
  EXPECT_EQ(newDownloads().size(), 4u);
}

TEST_F(MachineFaultTest, CorruptSettingsCountAsNoEntry) {
  installVersionOne();
  writeFile(settingsFile(), "{\"loaderModel\": \"not base64 and no closing brace");

  expectLaunched(runInstaller(), kUpdating);

  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/Tolvane.jar"});
  EXPECT_EQ(readFile(jar()), "launcher v1");
  ASSERT_TRUE(storedEntry());
  EXPECT_EQ(storedHash(), "hash-1");
}

TEST_F(MachineFaultTest, SettingsNotWritable) {
  if (!canMount()) GTEST_SKIP() << "needs the right to mount (root, mount namespaces)";
  const fs::path folder = settingsFile().parent_path();
  fs::create_directories(folder);
  const ChildSetup readOnlySettings =
      withMounts("mount --bind " + quoted(folder) + " " + quoted(folder) +
                 " && mount -o remount,bind,ro " + quoted(folder));
  publish("files/Tolvane.jar", "launcher v1");
  setManifest({{"files/Tolvane.jar", "hash-1", 11}});

  // Nothing can be remembered, so nothing can be downloaded on a clean machine.
  expectFailed(runInstaller(readOnlySettings), kInstalling,
               kCheckFailed + "Read-only file system: \"" + folder.string() + "\"");
  EXPECT_FALSE(fs::exists(jar()));

  // With a jar in place, that jar is started and the stored entry stays as it was.
  installVersionOne();
  setManifest({{kNewPath, "hash-2", 11}});
  expectLaunched(runInstaller(readOnlySettings), kUpdating);
  EXPECT_TRUE(newDownloads().empty());
  EXPECT_EQ(readFile(jar()), "launcher v1");
  EXPECT_EQ(storedHash(), "hash-1");
}

TEST_F(MachineFaultTest, UnzipToolMissing) {
  if (!canMount()) GTEST_SKIP() << "needs the right to mount (root, mount namespaces)";
  const fs::path overlay = home_.root() / "overlay";
  for (const char* part : {"upper", "work", "merged"}) fs::create_directories(overlay / part);
  // /usr/bin as it is, less unzip, seen only by the child.
  const ChildSetup withoutUnzip = withMounts(
      "mount -t overlay overlay -o lowerdir=/usr/bin,upperdir=" + quoted(overlay / "upper") +
      ",workdir=" + quoted(overlay / "work") + " " + quoted(overlay / "merged") + " && rm " +
      quoted(overlay / "merged" / "unzip") + " && mount --bind " + quoted(overlay / "merged") +
      " /usr/bin");

  expectFailed(runInstaller(withoutUnzip), kInstalling,
               kUnzipFailed + "No such file or directory: \"/usr/bin/unzip\"");

  EXPECT_FALSE(fs::exists(workFolder() / "java.zip"));
  EXPECT_FALSE(fs::exists(workFolder() / "java"));
  EXPECT_TRUE(fs::exists("/usr/bin/unzip"));
}

TEST_F(MachineFaultTest, CorruptRuntimeArchive) {
  writeFile(home_.resources() / "java.zip", "PK\x03\x04 not really an archive");

  const auto outcome = runInstaller();

  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.out, kInstalling);
  // The unpacking tool shares the program's standard error and complains there first.
  const std::string alert = alertText(kUnzipFailed + "\"/usr/bin/unzip\" ended with exit status 9");
  ASSERT_GE(outcome.err.size(), alert.size());
  EXPECT_EQ(outcome.err.substr(outcome.err.size() - alert.size()), alert);
  EXPECT_NE(outcome.err.find("End-of-central-directory signature not found"), std::string::npos)
      << outcome.err;
  EXPECT_FALSE(fs::exists(workFolder() / "java.zip"));
  EXPECT_FALSE(fs::exists(workFolder() / "java"));
  EXPECT_FALSE(FakeRuntime::readRecord(launchRecord()));
}

TEST_F(MachineFaultTest, RuntimeNotExecutable) {
  installVersionOne();
  const fs::path java = workFolder() / "java" / "bin" / "java";
  fs::permissions(java, fs::perms(0644));

  expectFailed(runInstaller(), kUpdating,
               kLaunchFailed + "Permission denied: \"" + java.string() + "\"");

  EXPECT_EQ(readFile(jar()), "launcher v1");
  EXPECT_EQ(storedHash(), "hash-1");
}

// ---- A run killed in the middle of the download ------------------------------------------------

class KilledDownloadTest : public ScriptedServerTest {
 protected:
  static constexpr std::size_t kSize = 1024 * 1024;
  // 64 KiB every 50 ms: the download takes most of a second, time to kill the program in it.
  void scriptServer() override {
    writeFile(release_, patternBytes(kSize));
    server_.serveFile("/" + kNewPath, release_, "\"v2\"", std::chrono::milliseconds(50));
  }
  // The installer runs under `timeout`, which the shell became.
  static pid_t installerUnder(pid_t timeoutProcess) {
    const std::string id = std::to_string(timeoutProcess);
    return static_cast<pid_t>(
        std::stol("0" + readFile("/proc/" + id + "/task/" + id + "/children")));
  }
  const fs::path release_ = home_.root() / "v2.jar";
};

TEST_F(KilledDownloadTest, TheNextRunStillUpdates) {
  offerVersionTwo();
  auto process = startInstaller();
  ASSERT_TRUE(waitUntil([&] {
    const auto requests = server_.requests();
    return !requests.empty() && requests.back().path == "/" + kNewPath;
  }));
  const pid_t installer = installerUnder(process->processIdentifier());
  ASSERT_GT(installer, 0);
  // Killed once the body is being written to its nameless file in the download folder.
  const fs::path descriptors = "/proc/" + std::to_string(installer) + "/fd";
  const std::string partialFolder = (workFolder() / ".Tolvane.jar.partial").string();
  ASSERT_TRUE(waitUntil([&] {
    std::error_code error;
    for (fs::directory_iterator it(descriptors, error), end; !error && it != end;
         it.increment(error)) {
      if (fs::read_symlink(it->path(), error).string().starts_with(partialFolder)) return true;
    }
    return false;
  }));
  ASSERT_EQ(::kill(installer, SIGKILL), 0);
  process->waitUntilExit();
  expectVersionOneKept();
  EXPECT_EQ(temporaryFilesLeft(), std::vector<std::string>{});  // the partial file had no name

  expectLaunched(runInstaller(), kUpdating);
  EXPECT_TRUE(readFile(jar()) == patternBytes(kSize)) << "the jar is not version 2";
  EXPECT_EQ(storedHash(), "hash-2");
}

// ---- Two instances at once ---------------------------------------------------------------------

// Someone watching a terminal sees why nothing happens until the other instance is done.
TEST_F(HeadlessRunTest, WaitForTheWorkFolderIsAnnounced) {
  publish("files/Tolvane.jar", "launcher v1");
  setManifest({{"files/Tolvane.jar", "hash-1", 11}});
  fs::create_directories(workFolder());
  auto held = platform::FileLock::acquire(workFolder() / ".installer.lock");
  ASSERT_TRUE(held);

  auto process = startInstaller();
  EXPECT_TRUE(waitUntil(
      [&] {
        return readFile(home_.root() / "run.stderr").find("waiting for it to finish") !=
               std::string::npos;
      },
      std::chrono::seconds(30)));
  held.reset();
  auto outcome = finishInstaller(*process);
  EXPECT_EQ(outcome.err, std::string(InstallerSteps::kWaitingMessage) + "\n");
  outcome.err.clear();
  expectLaunched(outcome, kInstalling);
}

class TwoInstancesTest : public ScriptedServerTest {
 protected:
  // Slow enough that both instances would be downloading at once if nothing kept them apart.
  void scriptServer() override {
    server_.get("/files/slow.jar", [this](const httplib::Request&, httplib::Response& response) {
      server_.pause(std::chrono::milliseconds(500));
      response.set_content(patternBytes(100 * 1024), "application/java-archive");
    });
  }
};

TEST_F(TwoInstancesTest, SecondInstanceWaitsAndDecidesFromWhatTheFirstLeft) {
  setManifest({{"files/slow.jar", "hash-1", 102400}});

  auto first = startInstaller({}, "first");
  auto second = startInstaller({}, "second");
  const auto firstOutcome = finishInstaller(*first, "first");
  const auto secondOutcome = finishInstaller(*second, "second");

  // Whichever found the work folder taken said so, and nothing else.
  const std::string waited = std::string(InstallerSteps::kWaitingMessage) + "\n";
  EXPECT_EQ(firstOutcome.err + secondOutcome.err, waited);
  for (const auto& outcome : {firstOutcome, secondOutcome}) EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(newDownloads(), std::vector<std::string>{"/files/slow.jar"});
  EXPECT_TRUE(readFile(jar()) == patternBytes(100 * 1024)) << "the jar is not the published body";
  ASSERT_TRUE(storedEntry());
  EXPECT_EQ(storedEntry()->path, "files/slow.jar");
  EXPECT_EQ(storedHash(), "hash-1");
  EXPECT_TRUE(fs::exists(workFolder() / "java" / "bin" / "java"));
  EXPECT_TRUE(FakeRuntime::waitForRecord(launchRecord()));
}

}  // namespace
}  // namespace tolvane::test
