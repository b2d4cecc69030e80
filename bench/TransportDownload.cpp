// Downloads a large file over loopback HTTPS through the transport and through the curl
// command line, against the same server in the same run, and prints both throughputs,
// their ratio and the transport's peak memory. The transport runs in a child process of
// its own so that its peak resident size is not mixed up with the server's.
//
//   bench_TransportDownload [size in MiB, default 256]

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Platform/DispatchQueue.h"
#include "Platform/URLSession.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TestCertificate.h"

extern char** environ;

namespace {

using namespace tolvane;
using Clock = std::chrono::steady_clock;

long peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

class DownloadDelegate : public platform::URLSessionDelegate {
 public:
  explicit DownloadDelegate(std::filesystem::path destination)
      : destination_(std::move(destination)) {}

  void didFinishDownloadingTo(platform::URLSession&, const platform::TaskPtr&,
                              const std::filesystem::path& location) override {
    std::filesystem::rename(location, destination_);
  }
  void didCompleteWithError(platform::URLSession&, const platform::TaskPtr&,
                            platform::ErrorPtr error) override {
    std::lock_guard guard(mutex_);
    error_ = error ? error->debugDescription() : "";
    done_ = true;
    changed_.notify_all();
  }
  void didBecomeInvalidWithError(platform::URLSession&, platform::ErrorPtr) override {
    std::lock_guard guard(mutex_);
    invalid_ = true;
    changed_.notify_all();
  }
  void waitForInvalidation() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return invalid_; });
  }
  std::string wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_; });
    return error_;
  }

 private:
  std::filesystem::path destination_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  bool invalid_ = false;
  std::string error_;
};

// Child: download `url` to `destination`, print "seconds peakKiB".
int runTransport(const std::string& url, const std::string& caFile,
                 const std::string& destination) {
  auto queue = platform::DispatchQueue::make("bench.transport");
  auto delegate = std::make_shared<DownloadDelegate>(destination);
  auto configuration = platform::URLSessionConfiguration::defaultConfiguration();
  configuration.additionalCAFile = caFile;
  auto session = platform::URLSession::make(configuration, delegate, queue);
  platform::URLRequest request(platform::URL::parse(url));
  const auto started = Clock::now();
  auto task = session->downloadTask(request);
  task->resume();
  const std::string error = delegate->wait();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (!error.empty()) {
    std::fprintf(stderr, "transport download failed: %s\n", error.c_str());
    return 1;
  }
  std::printf("%.6f %ld\n", seconds, peakResidentKiB());
  // Let the session end properly, so that it removes its files.
  std::weak_ptr<platform::URLSession> weak = session;
  session->invalidateAndCancel();
  session.reset();
  delegate->waitForInvalidation();
  while (!weak.expired()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 0;
}

// Runs argv, returns its standard output; wall time in `seconds`.
std::string runProcess(const std::vector<std::string>& arguments, double& seconds) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const auto started = Clock::now();
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  std::string output;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0)
    output.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  if (spawned == 0) ::waitpid(pid, &status, 0);
  seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", arguments[0].c_str());
    std::exit(1);
  }
  return output;
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> bx(1 << 20), by(1 << 20);
  while (x && y) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin()))
      return false;
  }
  return !x && !y;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--transport-child")
    return runTransport(argv[2], argv[3], argv[4]);

  const std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const std::uint64_t size = static_cast<std::uint64_t>(mebibytes) << 20;
  test::TemporaryDirectory folder;
  const auto source = folder.path() / "source.bin";
  {
    std::ofstream out(source, std::ios::binary);
    const std::string block = test::patternBytes(1 << 20, 3);
    for (std::size_t i = 0; i < mebibytes; ++i)
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  test::LoopbackServer server;
  server.serveFile("/source.bin", source, "\"bench\"");
  const std::string url = server.url("/source.bin");
  const std::string caFile = test::TestCertificate::shared().caFile().string();
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();

  double bestTransport = 1e9;
  double bestTransportWall = 1e9;
  double bestCurl = 1e9;
  long peakKiB = 0;
  for (int round = 0; round < 3; ++round) {
    const auto viaTransport = folder.path() / "transport.bin";
    const auto viaCurl = folder.path() / "curl.bin";
    double wall = 0;
    const std::string report =
        runProcess({self, "--transport-child", url, caFile, viaTransport.string()}, wall);
    double seconds = 0;
    long kib = 0;
    if (std::sscanf(report.c_str(), "%lf %ld", &seconds, &kib) != 2) return 1;
    bestTransport = std::min(bestTransport, seconds);
    bestTransportWall = std::min(bestTransportWall, wall);
    peakKiB = std::max(peakKiB, kib);

    double curlSeconds = 0;
    runProcess({"curl", "-s", "--cacert", caFile, "-o", viaCurl.string(), url}, curlSeconds);
    bestCurl = std::min(bestCurl, curlSeconds);

    if (!sameFile(source, viaTransport) || !sameFile(source, viaCurl)) {
      std::fprintf(stderr, "downloaded file differs from the source\n");
      return 1;
    }
    std::filesystem::remove(viaTransport);
    std::filesystem::remove(viaCurl);
  }
  const double mib = static_cast<double>(size) / (1 << 20);
  std::printf("file: %zu MiB over loopback HTTPS, best of 3 rounds\n", mebibytes);
  std::printf("transport: %.1f MiB/s (%.3f s, timed inside the child)\n", mib / bestTransport,
              bestTransport);
  std::printf("curl CLI : %.1f MiB/s (%.3f s, process wall time)\n", mib / bestCurl, bestCurl);
  std::printf("transport process wall time, start-up included like curl's: %.1f MiB/s (%.3f s)\n",
              mib / bestTransportWall, bestTransportWall);
  std::printf("ratio transport/curl: %.3f in-process, %.3f process to process\n\n",
              bestCurl / bestTransport, bestCurl / bestTransportWall);
  const std::string sizeName = std::to_string(mebibytes) + " MiB";
  const double ratio = bestCurl / bestTransportWall;
  const double peakMiB = static_cast<double>(peakKiB) / 1024;
  bench::printSummary("transport / curl -o throughput, process to process, " + sizeName,
                      bench::formatted(ratio, 2), ">= 0.95", ratio >= 0.95);
  bench::printSummary("transport peak RSS, " + sizeName, bench::formatted(peakMiB, 1, "MiB"),
                      "<= 40 MiB", peakMiB <= 40);
  return 0;
}
