#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "Support/BuildPaths.h"
#include "Support/ChildProgram.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"
#include "Support/WaitUntil.h"

namespace tolvane::tools {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The program itself: its signal handling lives in main, outside the library. Both stop
// signals share one handler; each test sends one of them.
TEST(UpdateServerProgram, PrintsTheOriginLogsEachRequestUntilSignalledThenExitsCleanly) {
  test::TemporaryDirectory temp;
  test::writeFile(temp.path() / "release" / "loaderv3.php", R"({"files":[]})");
  const auto& certificate = test::TestCertificate::shared().loopback();
  test::ChildProgram server(
      test::buildFolder() / "bin" / "tolvane-update-server",
      {"serve", "--root", (temp.path() / "release").string(), "--cert",
       certificate.certificate.string(), "--key", certificate.privateKey.string(), "--log"},
      temp.path(), "server");
  std::string output;
  ASSERT_TRUE(test::waitUntil(
      [&] {
        output = server.standardOutput();
        return output.find('\n') != std::string::npos || !server.isRunning();
      },
      10s, 10ms))
      << server.standardError();
  const std::string line = output.substr(0, output.find('\n'));
  const std::string prefix = "listening on https://127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line << server.standardError();

  httplib::SSLClient client("127.0.0.1", std::stoi(line.substr(prefix.size())));
  client.set_ca_cert_path(test::TestCertificate::shared().caFile().string());
  client.enable_server_certificate_verification(true);
  const auto response = client.Get("/loaderv3.php?os=macos&os=macos");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, R"({"files":[]})");
  ASSERT_TRUE(client.Get("/nothing.jar"));

  server.signal(SIGINT);
  // Nothing when a signal, not the program, ended it.
  EXPECT_EQ(server.waitForExit(10s), 0);
  EXPECT_EQ(server.standardError(),
            "GET /loaderv3.php?os=macos&os=macos 200\nGET /nothing.jar 404\n");
}

// A publish fed by a pipe that has not ended yet: a stop signal must end it at once, with
// the staged copy removed and the release untouched.
TEST(UpdateServerProgram, PublishStopsOnASignalAndLeavesNothingBehind) {
  test::TemporaryDirectory temp;
  const fs::path pipe = temp.path() / "build.pipe";
  const fs::path root = temp.path() / "release";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  test::ChildProgram publish(test::buildFolder() / "bin" / "tolvane-update-server",
                             {"publish", pipe.string(), "--root", root.string(), "--path", "a.jar"},
                             temp.path(), "publish");
  int writer = -1;
  ASSERT_TRUE(test::waitUntil(
      [&] {
        writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return writer >= 0;
      },
      10s, 10ms));
  ASSERT_EQ(::write(writer, "first part", 10), 10);
  const auto staged = [&] {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root, error)) {
      if (entry.path().filename().string().find(".publishing-") != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(test::waitUntil(staged, 10s, 10ms)) << publish.standardError();

  publish.signal(SIGTERM);
  EXPECT_EQ(publish.waitForExit(10s), 128 + SIGTERM) << publish.standardError();
  ::close(writer);
  EXPECT_FALSE(staged());
  EXPECT_FALSE(fs::exists(root / "a.jar"));
  EXPECT_FALSE(fs::exists(root / "loaderv3.php"));
}

}  // namespace
}  // namespace tolvane::tools
