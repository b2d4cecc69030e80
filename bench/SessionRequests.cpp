// Small GETs through Session against a raw libcurl easy-handle loop on the same loopback
// server, and a burst of concurrent requests through one session.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <string>

#include "HTTP/Core/Session.h"
#include "Support/LoopbackServer.h"

namespace {

using namespace tolvane;
using namespace std::chrono_literals;

constexpr int kSequential = 1000;
constexpr int kConcurrent = 200;

test::LoopbackServer& server() {
  static test::LoopbackServer* instance = [] {
    test::LoopbackServer::Options options;
    options.https = false;
    auto* made = new test::LoopbackServer(options);  // lives for the whole run
    // Without it, small responses wait for the peer's delayed acknowledgement and both
    // clients measure the server's Nagle timer instead of themselves.
    made->server().set_tcp_nodelay(true);
    made->serveBody("/small", std::string(64, 'x'), "text/plain");
    made->start();
    return made;
  }();
  return *instance;
}

std::shared_ptr<http::Session> makeSession() {
  http::SessionSettings settings;
  settings.eventMonitors = std::vector<std::shared_ptr<http::EventMonitor>>{};
  return http::Session::make(std::nullopt, nullptr, nullptr, std::move(settings));
}

long peakRSSKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

void BM_SessionSequentialGets(benchmark::State& state) {
  const std::string url = server().url("/small");
  auto session = makeSession();
  auto queue = platform::DispatchQueue::make("bench.responses");
  long failures = 0;
  for (auto _ : state) {
    for (int i = 0; i < kSequential; ++i) {
      std::promise<bool> done;
      session->request(url)->response(queue, [&done](const http::DataRequest::UnserializedResponse& response) {
        done.set_value(!response.error && response.data && response.data->size() == 64);
      });
      if (!done.get_future().get()) ++failures;
    }
  }
  state.SetItemsProcessed(state.iterations() * kSequential);
  state.counters["failures"] = static_cast<double>(failures);
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

void BM_RawCurlSequentialGets(benchmark::State& state) {
  const std::string url = server().url("/small");
  std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
  std::string body;
  curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &collect);
  curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &body);
  long failures = 0;
  for (auto _ : state) {
    for (int i = 0; i < kSequential; ++i) {
      body.clear();
      if (curl_easy_perform(handle.get()) != CURLE_OK || body.size() != 64) ++failures;
    }
  }
  state.SetItemsProcessed(state.iterations() * kSequential);
  state.counters["failures"] = static_cast<double>(failures);
}

// The transport alone, for telling the layer's own cost from the transport's.
class SignallingDelegate final : public platform::URLSessionDelegate {
 public:
  std::promise<bool>* done = nullptr;
  std::size_t received = 0;
  void didReceiveData(platform::URLSession&, const platform::TaskPtr&, const platform::Data& data) override {
    received += data.size();
  }
  void didCompleteWithError(platform::URLSession&, const platform::TaskPtr&, platform::ErrorPtr error) override {
    done->set_value(!error && received == 64);
    received = 0;
  }
};

void BM_TransportSequentialGets(benchmark::State& state) {
  const auto url = platform::URL::parse(server().url("/small"));
  auto delegate = std::make_shared<SignallingDelegate>();
  auto transport = platform::URLSession::make(platform::URLSessionConfiguration::defaultConfiguration(), delegate,
                                              platform::DispatchQueue::make("bench.transport"));
  long failures = 0;
  for (auto _ : state) {
    for (int i = 0; i < kSequential; ++i) {
      std::promise<bool> done;
      delegate->done = &done;
      transport->dataTask(platform::URLRequest(url))->resume();
      if (!done.get_future().get()) ++failures;
    }
  }
  transport->invalidateAndCancel();
  state.SetItemsProcessed(state.iterations() * kSequential);
  state.counters["failures"] = static_cast<double>(failures);
}

void BM_SessionConcurrentGets(benchmark::State& state) {
  const std::string url = server().url("/small");
  auto queue = platform::DispatchQueue::make("bench.responses");
  long incomplete = 0;
  for (auto _ : state) {
    auto session = makeSession();
    struct Tally {
      std::atomic<int> completed{0};
      std::atomic<int> finished{0};
      std::promise<void> all;
    };
    auto tally = std::make_shared<Tally>();
    for (int i = 0; i < kConcurrent; ++i) {
      session->request(url)->response(queue, [tally](const http::DataRequest::UnserializedResponse& response) {
        if (!response.error) tally->completed.fetch_add(1);
        if (tally->finished.fetch_add(1) + 1 == kConcurrent) tally->all.set_value();
      });
    }
    // A request that never completes shows up as an error here, not as a hang.
    if (tally->all.get_future().wait_for(60s) != std::future_status::ready) {
      state.SkipWithError("requests did not complete");
    }
    incomplete += kConcurrent - tally->completed.load();
  }
  state.counters["incomplete"] = static_cast<double>(incomplete);
  state.counters["peakRSS_MiB"] = static_cast<double>(peakRSSKiB()) / 1024.0;
}

BENCHMARK(BM_RawCurlSequentialGets)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_TransportSequentialGets)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SessionSequentialGets)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SessionConcurrentGets)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Prints the usual table, then the throughput ratio of the two sequential runs.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) realTime_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatio() const {
    const auto raw = find("BM_RawCurlSequentialGets");
    const auto session = find("BM_SessionSequentialGets");
    if (raw <= 0 || session <= 0) return;
    std::printf("\nSession / raw libcurl throughput: %.2f (goal >= 0.80)\n", raw / session);
    if (const auto transport = find("BM_TransportSequentialGets"); transport > 0) {
      std::printf("Transport alone / raw libcurl throughput: %.2f\n", raw / transport);
    }
  }

 private:
  double find(const std::string& prefix) const {
    for (const auto& [name, time] : realTime_) {
      if (name.rfind(prefix, 0) == 0) return time;
    }
    return -1;
  }
  std::map<std::string, double> realTime_;
};

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatio();
  benchmark::Shutdown();
  return 0;
}
