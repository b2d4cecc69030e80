// Small GETs through Session against a raw libcurl easy-handle loop on the same loopback
// HTTPS server, and a burst of concurrent requests through one session. The transport alone
// and a bare queue round trip are measured too, so the layer's cost can be told apart:
// a sequential request through Session crosses threads several times (caller -> root
// queue -> network thread -> root queue -> response queue -> caller), and each crossing
// wakes a sleeping thread.
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

#include "HTTP/Core/DataRequest.h"
#include "HTTP/Core/Session.h"
#include "HTTP/Response/ResponseHandlers.h"
#include "Platform/NetworkLibraries.h"
#include "Support/LoopbackServer.h"
#include "Support/TestCertificate.h"

namespace {

using namespace tolvane;
using namespace std::chrono_literals;

constexpr int kSequential = 1000;
constexpr int kConcurrent = 200;

test::LoopbackServer& server() {
  static test::LoopbackServer* instance = [] {
    auto* made = new test::LoopbackServer();  // HTTPS; lives for the whole run
    // Without it, small responses wait for the peer's delayed acknowledgement and both
    // clients measure the server's Nagle timer instead of themselves.
    made->server().set_tcp_nodelay(true);
    // Like a production server (nginx keeps 1000 requests per connection), not the
    // library's default of five: the comparison is about requests, not TLS handshakes.
    made->server().set_keep_alive_max_count(100000);
    // Not a text type: the server would compress text for the layer, which announces
    // Accept-Encoding, and the comparison would measure the server's compressor.
    made->serveBody("/small", std::string(64, 'x'), "application/octet-stream");
    made->start();
    return made;
  }();
  return *instance;
}

platform::URLSessionConfiguration configuration() {
  auto made = http::Session::defaultConfiguration();
  made.additionalCAFile = test::TestCertificate::shared().caFile();
  return made;
}

std::shared_ptr<http::Session> makeSession() {
  http::SessionSettings settings;
  settings.eventMonitors = std::vector<std::shared_ptr<http::EventMonitor>>{};
  return http::Session::make(configuration(), nullptr, nullptr, std::move(settings));
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
      http::response(session->request(url), queue, [&done](const auto& response) {
        done.set_value(!response.error() && response.data && response.data->size() == 64);
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
  const std::string caFile = test::TestCertificate::shared().caFile().string();
  curl_easy_setopt(handle.get(), CURLOPT_CAINFO, caFile.c_str());
  // The same request headers the layer sends, so both sides move the same bytes.
  struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  for (const auto& header : http::HTTPHeaders::defaultHeaders()) {
    if (header.name == "Accept-Encoding") {
      curl_easy_setopt(handle.get(), CURLOPT_ACCEPT_ENCODING, header.value.c_str());
      continue;
    }
    const std::string line = header.name + ": " + header.value;
    headers.reset(curl_slist_append(headers.release(), line.c_str()));
  }
  headers.reset(curl_slist_append(headers.release(), "Accept:"));
  curl_easy_setopt(handle.get(), CURLOPT_HTTPHEADER, headers.get());
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
  [[nodiscard]] bool decidesResponses() const override { return false; }  // as the layer's delegate
  void didReceiveData(platform::URLSession&, const platform::TaskPtr&,
                      const platform::Data& data) override {
    received += data.size();
  }
  void didCompleteWithError(platform::URLSession&, const platform::TaskPtr&,
                            platform::ErrorPtr error) override {
    done->set_value(!error && received == 64);
    received = 0;
  }
};

void BM_TransportSequentialGets(benchmark::State& state) {
  const auto url = platform::URL::parse(server().url("/small"));
  auto delegate = std::make_shared<SignallingDelegate>();
  auto transport = platform::URLSession::make(configuration(), delegate,
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

// One crossing to a dispatch queue and back: the price of each thread hop above.
void BM_QueueRoundTrip(benchmark::State& state) {
  auto queue = platform::DispatchQueue::make("bench.hop");
  for (auto _ : state) {
    for (int i = 0; i < kSequential; ++i) {
      std::promise<void> done;
      queue->async([&done] { done.set_value(); });
      done.get_future().wait();
    }
  }
  state.SetItemsProcessed(state.iterations() * kSequential);
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
      http::response(session->request(url), queue, [tally](const auto& response) {
        if (!response.error()) tally->completed.fetch_add(1);
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
BENCHMARK(BM_QueueRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_SessionConcurrentGets)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Prints the usual table, then the throughput ratio of the two sequential runs.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: scripts/bench keeps the output in files.
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      realTime_[run.benchmark_name()] = run.GetAdjustedRealTime();
      if (run.benchmark_name().rfind("BM_SessionConcurrentGets", 0) == 0) {
        incomplete_ = run.counters.count("incomplete") ? run.counters.at("incomplete").value : -1;
        peakMiB_ = run.counters.count("peakRSS_MiB") ? run.counters.at("peakRSS_MiB").value : -1;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatio() const {
    const auto raw = find("BM_RawCurlSequentialGets");
    const auto session = find("BM_SessionSequentialGets");
    if (const auto burst = find("BM_SessionConcurrentGets"); burst > 0) {
      std::printf(
          "\n%d concurrent requests through one session: %.1f ms wall, %s, peak RSS %.1f MiB\n",
          kConcurrent, burst, incomplete_ == 0 ? "all completed" : "SOME FAILED", peakMiB_);
    }
    if (raw <= 0 || session <= 0) return;
    const double ratio = raw / session;
    std::printf("\nSession / raw libcurl throughput: %.2f (goal >= 0.80) %s\n", ratio,
                ratio >= 0.8 ? "ok" : "MISSED");
    if (const auto transport = find("BM_TransportSequentialGets"); transport > 0) {
      std::printf("Transport alone / raw libcurl throughput: %.2f\n", raw / transport);
    }
    // Times are per 1000 requests, so milliseconds here are microseconds per request.
    if (const auto hop = find("BM_QueueRoundTrip"); hop > 0) {
      std::printf(
          "Per request: raw %.0f us, Session %.0f us; one queue round trip (two thread wake-ups) "
          "%.0f us\n",
          raw, session, hop);
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
  double incomplete_ = -1;
  double peakMiB_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  // Before the raw loop touches libcurl: OpenSSL must keep its state for the network
  // threads still winding down when main returns.
  platform::initialiseNetworkLibraries();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatio();
  benchmark::Shutdown();
  return 0;
}
