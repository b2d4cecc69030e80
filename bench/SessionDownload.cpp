// Downloads of 256 MiB and 1 GiB through Session's download request against `curl -o`, both
// from the same loopback HTTPS server in the same run. Each transfer runs in a child process
// of its own (this program re-executed with --child, or curl), so the peak resident memory
// that wait4() reports is that transfer's alone.
//
//   bench_SessionDownload [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "HTTP/Core/Session.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TestCertificate.h"

extern char** environ;

namespace {

using namespace tolvane;

struct ChildRun {
  double seconds = 0;
  double peakMiB = 0;
  bool ok = false;
};

// Runs argv as a child process; wall time from spawn to exit and the child's peak RSS.
ChildRun runChild(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return {};
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return {};
  ChildRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

// The child side: one download through a fresh session into `destination`.
int downloadInChild(const std::string& url, const std::string& caFile, const std::string& destination) {
  auto configuration = http::Session::defaultConfiguration();
  configuration.additionalCAFile = caFile;
  auto session = http::Session::make(configuration);
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool succeeded = false;
  auto request = session->download(
      url, http::HTTPMethod::get, std::nullopt, nullptr, std::nullopt, nullptr, nullptr,
      [destination](const platform::URL&, const platform::HTTPURLResponse&) {
        return std::pair{platform::URL::fileURL(destination),
                         http::DownloadRequest::Options{http::DownloadRequest::Options::removePreviousFile}};
      });
  http::response(request, platform::DispatchQueue::make("bench.completion"),
                 [&](const http::DownloadResponse<std::optional<platform::URL>>& response) {
                   std::lock_guard lock(mutex);
                   succeeded = response.result.isSuccess();
                   if (!succeeded) std::fprintf(stderr, "%s\n", response.debugDescription().c_str());
                   finished = true;
                   done.notify_all();
                 });
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return finished; });
  return succeeded ? 0 : 1;
}

struct Fixture {
  test::TemporaryDirectory folder;
  test::LoopbackServer server;
  std::string self;

  Fixture() {
    char path[4096] = {};
    const auto length = readlink("/proc/self/exe", path, sizeof path - 1);
    self = std::string(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    for (const auto mebibytes : {256, 1024}) {
      const auto file = folder.path() / ("body-" + std::to_string(mebibytes) + ".bin");
      std::ofstream out(file, std::ios::binary);
      const std::string block = test::patternBytes(1 << 20, static_cast<std::uint32_t>(mebibytes));
      for (int i = 0; i < mebibytes; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
      server.serveFile("/body-" + std::to_string(mebibytes) + ".bin", file, "\"bench\"");
    }
    server.start();
  }
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

void BM_SessionDownloadVersusCurl(benchmark::State& state) {
  auto& f = fixture();
  const auto mebibytes = state.range(0);
  const auto path = "/body-" + std::to_string(mebibytes) + ".bin";
  const auto url = f.server.url(path);
  const auto ca = test::TestCertificate::shared().caFile().string();
  const auto sessionOut = (f.folder.path() / "session.out").string();
  const auto curlOut = (f.folder.path() / "curl.out").string();
  double sessionSeconds = 0, curlSeconds = 0, sessionPeak = 0, curlPeak = 0;
  for (auto _ : state) {
    const auto session = runChild({f.self, "--child", url, ca, sessionOut});
    const auto curl = runChild({"curl", "-s", "-S", "-f", "--cacert", ca, "-o", curlOut, url});
    if (!session.ok || !curl.ok) {
      state.SkipWithError("a transfer failed");
      return;
    }
    state.SetIterationTime(session.seconds);
    sessionSeconds += session.seconds;
    curlSeconds += curl.seconds;
    sessionPeak = std::max(sessionPeak, session.peakMiB);
    curlPeak = std::max(curlPeak, curl.peakMiB);
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["session_MiB_per_s"] = static_cast<double>(mebibytes) * iterations / sessionSeconds;
  state.counters["curl_MiB_per_s"] = static_cast<double>(mebibytes) * iterations / curlSeconds;
  state.counters["throughput_ratio"] = curlSeconds / sessionSeconds;
  state.counters["session_peak_MiB"] = sessionPeak;
  state.counters["curl_peak_MiB"] = curlPeak;
  state.SetBytesProcessed(static_cast<std::int64_t>(iterations) * mebibytes << 20);
}

BENCHMARK(BM_SessionDownloadVersusCurl)->Arg(256)->Arg(1024)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--child") return downloadInChild(argv[2], argv[3], argv[4]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
