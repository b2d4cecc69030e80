// Downloads of 256 MiB and 1 GiB through the program's FileDownloadService against
// `curl -o` followed by `sync -d` (the service makes the file durable too), both from the same
// loopback HTTPS server in the same run, with the peak memory of each: once from the test server
// and once from nginx (Debian's nginx-light, the server operators use), each started here on
// 127.0.0.1. Every transfer runs in a child process of its own (this program re-run with
// --child, which makes the service's call exactly as the installer does, or curl), timed
// from start to exit on both sides, with its own peak resident size from wait4() (see
// bench::runMeasured). The two sides take turns within each round, so drift on the machine
// hits both alike.
//
//   bench_FileDownload [--benchmark_filter=nginx/MiB:256 ...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "HTTP/Core/Session.h"
#include "Installer/WorkFolder.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Error.h"
#include "Platform/ErrorException.h"
#include "Services/FileDownloadService.h"
#include "Support/LoopbackServer.h"
#include "Support/NginxServer.h"
#include "Support/TemporaryDirectory.h"
#include "Support/TestCertificate.h"

namespace {

namespace fs = std::filesystem;
using namespace tolvane;

constexpr int kRounds = 5;
constexpr double kThroughputGoal = 0.95;
constexpr double kPeakGoalMiB = 40;
// "Flat in size": four times the body may cost at most this much more peak memory.
constexpr double kPeakGrowthGoal = 1.10;

// The child side. HOME, TOLVANE_UPDATE_ORIGIN and TOLVANE_CA_FILE come from the parent. The
// call blocks until its completion has run on the main queue, so it is made from a worker
// while this thread drives the main queue, as the installer's own run does.
int downloadInChild(const std::string& path) {
  std::string failure;
  std::thread worker([&] {
    try {
      FileDownloadService(WorkFolder::forCurrentUser(), http::Session::defaultSession())
          .downloadFile(path);
    } catch (const platform::ErrorException& error) {
      failure = error.error() ? error.error()->debugDescription() : "unknown error";
    } catch (const std::exception& error) {
      failure = error.what();
    }
    platform::DispatchQueue::main()->async([] { platform::MainRunLoop::stop(); });
  });
  platform::MainRunLoop::run();
  worker.join();
  if (!failure.empty()) std::fprintf(stderr, "download failed: %s\n", failure.c_str());
  std::fflush(nullptr);
  // As the installer ends: the HTTP layer's workers may still run, so no static teardown.
  std::_Exit(failure.empty() ? 0 : 1);
}

struct Measured {
  double serviceMiBPerSecond = 0;
  double curlMiBPerSecond = 0;
  double servicePeakMiB = 0;
  double curlPeakMiB = 0;
};

enum class Server { test, nginx };
const char* serverName(Server server) {
  return server == Server::nginx ? "nginx" : "the test server";
}

// By server and size in MiB; nothing for a size whose transfers failed.
std::map<std::pair<Server, std::int64_t>, std::optional<Measured>>& measured() {
  static std::map<std::pair<Server, std::int64_t>, std::optional<Measured>> results;
  return results;
}

// The bodies live in one folder both servers serve; each server and each body is only made
// when a selected benchmark needs it.
class Fixture {
 public:
  fs::path body(std::int64_t mebibytes) {
    const fs::path file = www() / "releases" / ("body-" + std::to_string(mebibytes) + ".bin");
    if (!fs::exists(file)) {
      fs::create_directories(file.parent_path());
      bench::writePatternJar(file, static_cast<std::size_t>(mebibytes),
                             static_cast<std::uint32_t>(mebibytes));
    }
    return file;
  }
  [[nodiscard]] fs::path scratch() const { return folder_.path(); }

  // The server's origin, "https://127.0.0.1:<port>".
  std::string origin(Server server) {
    if (server == Server::nginx) {
      if (!nginx_) nginx_ = std::make_unique<test::NginxServer>(www());
      return nginx_->url("");
    }
    if (!loopback_) {
      loopback_ = std::make_unique<test::LoopbackServer>();
      for (const std::int64_t mebibytes : {256, 1024}) {
        const auto name = "body-" + std::to_string(mebibytes) + ".bin";
        loopback_->serveFile("/releases/" + name, www() / "releases" / name, "\"bench\"");
      }
      loopback_->start();
    }
    return loopback_->url("");
  }

 private:
  [[nodiscard]] fs::path www() const { return folder_.path() / "www"; }

  test::TemporaryDirectory folder_;
  std::unique_ptr<test::LoopbackServer> loopback_;
  std::unique_ptr<test::NginxServer> nginx_;
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

void BM_FileDownloadServiceVersusCurl(benchmark::State& state, Server server) {
  if (server == Server::nginx && !test::NginxServer::skipReason().empty()) {
    state.SkipWithError(test::NginxServer::skipReason().c_str());
    measured()[{server, state.range(0)}] = std::nullopt;
    return;
  }
  auto& f = fixture();
  const auto mebibytes = state.range(0);
  const fs::path source = f.body(mebibytes);
  const std::string origin = f.origin(server);
  const std::string name = source.filename().string();
  const std::string caFile = test::TestCertificate::shared().caFile().string();
  const fs::path home = f.scratch() / "home";
  const fs::path jar = WorkFolder(home).launcherJar();
  const fs::path curlOut = f.scratch() / "curl.out";
  const auto expectedSize = static_cast<std::uintmax_t>(mebibytes) << 20;

  bench::ChildOptions serviceOptions;
  serviceOptions.environment = {{"HOME", home.string()},
                                {"XDG_CONFIG_HOME", (f.scratch() / "config").string()},
                                {"TOLVANE_UPDATE_ORIGIN", origin},
                                {"TOLVANE_CA_FILE", caFile},
                                // Production retry delay and time-outs.
                                {"TOLVANE_RETRY_DELAY_SECONDS", std::nullopt},
                                {"TOLVANE_REQUEST_TIMEOUT_SECONDS", std::nullopt}};
  const std::vector<std::string> serviceCommand = {bench::selfExecutable().string(), "--child",
                                                   "releases/" + name};
  // -q first: no ~/.curlrc, so curl does exactly what it is told here. The service makes the
  // file durable before it becomes the jar (a crash must not leave one of zeros), so curl's
  // side does the same with sync -d (fdatasync).
  const std::vector<std::string> curlCommand{
      "/bin/sh",
      "-c",
      R"(curl -q -s -S -f --cacert "$1" -o "$2" "$3" && sync -d "$2")",
      "sh",
      caFile,
      curlOut.string(),
      origin + "/releases/" + name};

  std::vector<double> serviceSeconds;
  std::vector<double> curlSeconds;
  double servicePeak = 0;
  double curlPeak = 0;
  int round = 0;
  for (auto _ : state) {
    bench::ChildRun service;
    bench::ChildRun curl;
    if (round % 2 == 0) {
      service = bench::runMeasured(serviceCommand, serviceOptions);
      curl = bench::runMeasured(curlCommand);
    } else {
      curl = bench::runMeasured(curlCommand);
      service = bench::runMeasured(serviceCommand, serviceOptions);
    }
    std::error_code ignored;
    const bool complete = service.succeeded && curl.succeeded &&
                          fs::file_size(jar, ignored) == expectedSize &&
                          fs::file_size(curlOut, ignored) == expectedSize;
    // Contents are compared once per size: reading back a GiB twice per round would only
    // slow the run down.
    if (!complete || (round == 0 && !(bench::sameContents(source, jar) &&
                                      bench::sameContents(source, curlOut)))) {
      state.SkipWithError("a transfer failed or stored different bytes");
      measured()[{server, mebibytes}] = std::nullopt;
      return;
    }
    state.SetIterationTime(service.seconds);
    serviceSeconds.push_back(service.seconds);
    curlSeconds.push_back(curl.seconds);
    servicePeak = std::max(servicePeak, service.peakMiB);
    curlPeak = std::max(curlPeak, curl.peakMiB);
    fs::remove(jar);
    fs::remove(curlOut);
    ++round;
  }
  Measured result;
  result.serviceMiBPerSecond = static_cast<double>(mebibytes) / bench::median(serviceSeconds);
  result.curlMiBPerSecond = static_cast<double>(mebibytes) / bench::median(curlSeconds);
  result.servicePeakMiB = servicePeak;
  result.curlPeakMiB = curlPeak;
  measured()[{server, mebibytes}] = result;
  state.counters["service_MiB_per_s"] = result.serviceMiBPerSecond;
  state.counters["curl_MiB_per_s"] = result.curlMiBPerSecond;
  state.counters["ratio"] = result.serviceMiBPerSecond / result.curlMiBPerSecond;
  state.counters["service_peak_MiB"] = servicePeak;
  state.counters["curl_peak_MiB"] = curlPeak;
  state.SetBytesProcessed(state.iterations() * mebibytes << 20);
}

// Selected as BM_FileDownloadServiceVersusCurl/<test_server|nginx>/MiB:<256|1024>.
void registerBenchmarks() {
  for (const Server server : {Server::test, Server::nginx}) {
    benchmark::RegisterBenchmark((std::string("BM_FileDownloadServiceVersusCurl/") +
                                  (server == Server::nginx ? "nginx" : "test_server"))
                                     .c_str(),
                                 BM_FileDownloadServiceVersusCurl, server)
        ->ArgName("MiB")
        ->Arg(256)
        ->Arg(1024)
        ->Iterations(kRounds)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

std::string sizeName(std::int64_t mebibytes) {
  return mebibytes % 1024 == 0 ? std::to_string(mebibytes / 1024) + " GiB"
                               : std::to_string(mebibytes) + " MiB";
}

// One line per measured item; a size whose transfers failed is reported as not measured.
// Returns false when any size failed.
bool printSummaries() {
  for (const auto& [key, m] : measured()) {
    const auto [server, mebibytes] = key;
    const std::string what = sizeName(mebibytes) + " from " + serverName(server);
    const std::string throughput = "FileDownloadService / curl -o + sync -d throughput, " + what;
    const std::string peak = "FileDownloadService peak RSS, " + what;
    if (!m) {
      bench::printSummary(throughput, std::nullopt, ">= 0.95", false);
      bench::printSummary(peak, std::nullopt, "<= 40 MiB", false);
      continue;
    }
    const double ratio = m->serviceMiBPerSecond / m->curlMiBPerSecond;
    bench::printSummary(throughput, bench::formatted(ratio, 2), ">= 0.95",
                        ratio >= kThroughputGoal);
    bench::printSummary(peak,
                        bench::formatted(m->servicePeakMiB, 1, "MiB") + ", curl " +
                            bench::formatted(m->curlPeakMiB, 1, "MiB"),
                        "<= 40 MiB", m->servicePeakMiB <= kPeakGoalMiB);
  }
  for (const Server server : {Server::test, Server::nginx}) {
    const auto small = measured().find({server, 256});
    const auto large = measured().find({server, 1024});
    if (small == measured().end() || large == measured().end() || !small->second ||
        !large->second) {
      continue;
    }
    const double growth = large->second->servicePeakMiB / small->second->servicePeakMiB;
    bench::printSummary(
        std::string("FileDownloadService peak RSS 1 GiB / 256 MiB from ") + serverName(server),
        bench::formatted(growth, 2), "<= 1.10, flat in size", growth <= kPeakGrowthGoal);
  }
  return std::all_of(measured().begin(), measured().end(),
                     [](const auto& entry) { return entry.second.has_value(); });
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto helped = bench::runMeasuringHelper(argc, argv)) return *helped;
  if (argc == 3 && std::string(argv[1]) == "--child") return downloadInChild(argv[2]);
  registerBenchmarks();
  if (!bench::runBenchmarks(argc, argv)) return 1;
  return printSummaries() ? 0 : 1;
}
