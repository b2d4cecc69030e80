// The retry schedule against an update server that is down, as the program lives it: the
// real NetworkService with the production RetryHandler::make() (no
// TOLVANE_RETRY_DELAY_SECONDS) requests the manifest from a loopback port that refuses
// connections. An event monitor on the default session timestamps each attempt's task
// creation and completion; the pause is the time from one attempt's failure to the next
// attempt's task. Expected: four attempts, three pauses of 5.0 s each. Takes about 15 s.
//
//   bench_RetrySchedule
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "HTTP/Core/EventMonitor.h"
#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/Session.h"
#include "Platform/DispatchQueue.h"
#include "Platform/ErrorException.h"
#include "Services/NetworkService.h"
#include "Services/RetryHandler.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"

namespace {

using namespace tolvane;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kExpectedAttempts = RetryHandler::kRetryLimit + 1;
constexpr double kExpectedPause = RetryHandler::kRetryDelay;
constexpr double kTolerance = 0.1;

// Timestamps the start and the end of every transport task the default session runs. Its
// own queue, so the stamps do not wait behind main-queue work; the lists are guarded by mutex_.
class AttemptMonitor final : public http::EventMonitor {
 public:
  struct Attempt {
    Clock::time_point started;
    std::optional<Clock::time_point> ended;
  };

  [[nodiscard]] std::shared_ptr<platform::DispatchQueue> queue() const override { return queue_; }

  void requestDidCreateTask(const std::shared_ptr<http::Request>&,
                            const platform::TaskPtr&) override {
    const std::lock_guard lock(mutex_);
    attempts_.push_back({Clock::now(), std::nullopt});
  }
  void requestDidCompleteTaskWithError(const std::shared_ptr<http::Request>&,
                                       const platform::TaskPtr&,
                                       const std::optional<http::HTTPError>&) override {
    const std::lock_guard lock(mutex_);
    if (!attempts_.empty() && !attempts_.back().ended) attempts_.back().ended = Clock::now();
  }

  [[nodiscard]] std::vector<Attempt> attempts() const {
    const std::lock_guard lock(mutex_);
    return attempts_;
  }

 private:
  std::shared_ptr<platform::DispatchQueue> queue_ = platform::DispatchQueue::make("bench.attempts");
  mutable std::mutex mutex_;
  std::vector<Attempt> attempts_;
};

struct Result {
  std::size_t attempts = 0;
  std::vector<double> pauses;  // failure of attempt n to task of attempt n + 1, seconds
  bool gaveUpWithRetryFailure = false;
};
std::optional<Result> measured;

std::shared_ptr<AttemptMonitor>& monitor() {
  static auto instance = std::make_shared<AttemptMonitor>();
  return instance;
}

void BM_RetryScheduleAgainstRefusedPort(benchmark::State& state) {
  test::TemporaryHome home;
  home.setEnvironment("TOLVANE_UPDATE_ORIGIN",
                      "https://127.0.0.1:" + std::to_string(test::LoopbackServer::refusedPort()));
  home.setEnvironment(RetryHandler::kRetryDelayVariable, std::nullopt);
  home.setEnvironment(RetryHandler::kRequestTimeoutVariable, std::nullopt);
  Result result;
  for (auto _ : state) {
    const auto start = Clock::now();
    // The call waits for a main-queue completion, so it runs on a worker while this thread
    // drives the main queue, as in the program.
    auto call = std::async(std::launch::async, []() -> platform::ErrorPtr {
      try {
        (void)NetworkService(http::Session::defaultSession()).request(std::nullopt);
        return nullptr;
      } catch (const platform::ErrorException& error) {
        return error.error();
      }
    });
    platform::MainRunLoop::runUntil([&] { return call.wait_for(0s) == std::future_status::ready; },
                                    120s);
    if (call.wait_for(0s) != std::future_status::ready) {
      state.SkipWithError("the request did not end within two minutes");
      return;
    }
    const auto error = call.get();
    state.SetIterationTime(bench::seconds(Clock::now() - start));
    const auto* httpError = dynamic_cast<const http::HTTPError*>(error.get());
    result.gaveUpWithRetryFailure = httpError != nullptr && httpError->isRequestRetryError();
  }
  // Events reach the monitor through two queue hops, so the last attempt's may still be on
  // their way when the call has returned; a missing attempt shows up after the wait.
  const auto deadline = Clock::now() + 2s;
  auto attempts = monitor()->attempts();
  while ((attempts.size() < kExpectedAttempts || !attempts.back().ended) &&
         Clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
    attempts = monitor()->attempts();
  }
  result.attempts = attempts.size();
  std::printf("\n%-8s %10s %10s %10s\n", "attempt", "start s", "end s", "pause s");
  for (std::size_t i = 0; i < attempts.size(); ++i) {
    const auto at = [&](Clock::time_point t) {
      return bench::seconds(t - attempts.front().started);
    };
    std::optional<double> pause;
    if (i > 0 && attempts[i - 1].ended) {
      pause = bench::seconds(attempts[i].started - *attempts[i - 1].ended);
    }
    if (pause) result.pauses.push_back(*pause);
    std::printf("%-8zu %10.3f %10s %10s\n", i + 1, at(attempts[i].started),
                attempts[i].ended ? bench::formatted(at(*attempts[i].ended), 3).c_str() : "-",
                pause ? bench::formatted(*pause, 3).c_str() : "-");
  }
  std::printf("\n");
  measured = result;
  state.counters["attempts"] = static_cast<double>(result.attempts);
  for (std::size_t i = 0; i < result.pauses.size(); ++i) {
    state.counters["pause" + std::to_string(i + 1) + "_s"] = result.pauses[i];
  }
}

BENCHMARK(BM_RetryScheduleAgainstRefusedPort)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  // Only monitors added before the default session's first use see its requests.
  http::Session::addDefaultSessionEventMonitor(monitor());
  if (!bench::runBenchmarks(argc, argv)) return 1;
  int status = 0;
  const std::string attemptsItem = "NetworkService attempts against a refused port";
  const std::string pauseItem =
      "NetworkService retry pauses, worst of " + std::to_string(kExpectedAttempts - 1);
  const std::string pauseGoal =
      bench::formatted(kExpectedPause, 1) + " s +- " + bench::formatted(kTolerance, 1) + " s";
  if (!measured) {
    bench::printSummary(attemptsItem, std::nullopt, std::to_string(kExpectedAttempts), false);
    bench::printSummary(pauseItem, std::nullopt, pauseGoal, false);
    status = 1;
  } else {
    bench::printSummary(
        attemptsItem,
        std::to_string(measured->attempts) + (measured->gaveUpWithRetryFailure
                                                  ? ", then requestRetryFailed"
                                                  : ", then no retry failure"),
        std::to_string(kExpectedAttempts) + ", then requestRetryFailed",
        measured->attempts == kExpectedAttempts && measured->gaveUpWithRetryFailure);
    double worst = measured->pauses.empty() ? 0 : measured->pauses.front();
    for (const double pause : measured->pauses) {
      if (std::abs(pause - kExpectedPause) > std::abs(worst - kExpectedPause)) worst = pause;
    }
    const bool allPauses = measured->pauses.size() == kExpectedAttempts - 1;
    bench::printSummary(pauseItem,
                        allPauses ? std::optional(bench::formatted(worst, 3, "s")) : std::nullopt,
                        pauseGoal, allPauses && std::abs(worst - kExpectedPause) <= kTolerance);
  }
  std::fflush(nullptr);
  // As the program ends: the HTTP layer's workers may still be running, so no static teardown.
  std::_Exit(status);
}
