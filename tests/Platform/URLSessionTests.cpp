#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>

#include "Platform/CurlMulti.h"
#include "Platform/DispatchQueue.h"
#include "Platform/ResumeData.h"
#include "Platform/URLError.h"
#include "Platform/URLSession.h"
#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"
#include "Support/WaitUntil.h"

namespace tolvane::platform {

namespace {

using namespace std::chrono_literals;
using test::LoopbackServer;
using test::patternBytes;
using test::readFile;

URLRequest request(const std::string& url, double timeout = 10) {
  URLRequest request(URL::parse(url));
  request.timeoutInterval = timeout;
  return request;
}

// Returns once everything queued on `queue` so far has run.
void drain(const std::shared_ptr<DispatchQueue>& queue) {
  std::promise<void> done;
  queue->async([&done] { done.set_value(); });
  done.get_future().wait();
}

// What one task told its delegate.
struct TaskLog {
  std::vector<std::string> events;
  std::shared_ptr<const HTTPURLResponse> response;
  Data data;
  std::optional<std::string> downloadedFile;  // contents, copied before the file goes away
  std::filesystem::path downloadLocation;
  std::int64_t writtenSum = 0;
  std::int64_t lastTotalWritten = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> resumedAt;
  std::vector<std::string> redirects;
  ErrorPtr error;
  int metrics = 0;
  int redirectCount = 0;
  int completions = 0;

  const URLError* urlError() const { return dynamic_cast<const URLError*>(error.get()); }
};

// Records every callback per task, checking each arrives on the delegate queue.
class RecordingDelegate : public URLSessionDelegate {
 public:
  explicit RecordingDelegate(std::shared_ptr<DispatchQueue> queue) : queue_(std::move(queue)) {}

  ResponseDisposition disposition = ResponseDisposition::allow;
  bool followRedirects = true;
  // Runs on the delegate queue on each didWriteData.
  std::function<void(const TaskPtr&)> onWrite;

  void didBecomeInvalidWithError(URLSession&, ErrorPtr) override {
    std::lock_guard guard(mutex_);
    checkQueue();
    ++invalidations_;
    changed_.notify_all();
  }
  void willPerformHTTPRedirection(
      URLSession&, const TaskPtr& task, const HTTPURLResponse& response, const URLRequest& next,
      std::function<void(std::optional<URLRequest>)> completion) override {
    record(task, "redirect", [&](TaskLog& log) {
      log.redirects.push_back(std::to_string(response.statusCode) + " " +
                              next.url->absoluteString());
    });
    completion(followRedirects ? std::optional<URLRequest>(next) : std::nullopt);
  }
  void didFinishCollectingMetrics(URLSession&, const TaskPtr& task,
                                  const URLSessionTaskMetrics& metrics) override {
    record(task, "metrics", [&](TaskLog& log) {
      ++log.metrics;
      log.redirectCount = metrics.redirectCount;
    });
  }
  void didCompleteWithError(URLSession&, const TaskPtr& task, ErrorPtr error) override {
    record(task, "complete", [&](TaskLog& log) {
      ++log.completions;
      log.error = error;
    });
  }
  void didReceiveResponse(URLSession&, const TaskPtr& task, const HTTPURLResponse& response,
                          std::function<void(ResponseDisposition)> completion) override {
    record(task, "response",
           [&](TaskLog& log) { log.response = std::make_shared<HTTPURLResponse>(response); });
    completion(disposition);
  }
  void didReceiveData(URLSession&, const TaskPtr& task, const Data& data) override {
    record(task, "data", [&](TaskLog& log) { log.data += data; });
  }
  void didResumeAtOffset(URLSession&, const TaskPtr& task, std::int64_t offset,
                         std::int64_t expected) override {
    record(task, "resumed", [&](TaskLog& log) { log.resumedAt.emplace_back(offset, expected); });
  }
  void didWriteData(URLSession&, const TaskPtr& task, std::int64_t written, std::int64_t total,
                    std::int64_t) override {
    record(task, "write", [&](TaskLog& log) {
      log.writtenSum += written;
      log.lastTotalWritten = total;
    });
    if (onWrite) onWrite(task);
  }
  void didFinishDownloadingTo(URLSession&, const TaskPtr& task,
                              const std::filesystem::path& location) override {
    record(task, "finished", [&](TaskLog& log) {
      log.downloadLocation = location;
      // On the delegate queue: a missing file must fail the comparison, not throw here.
      log.downloadedFile = std::filesystem::exists(location) ? readFile(location) : std::string();
    });
  }

  // Waits until `task` has completed; its log then.
  TaskLog waitFor(const TaskPtr& task, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    const bool done = changed_.wait_for(
        lock, timeout, [&] { return logs_[task->taskIdentifier()].completions > 0; });
    EXPECT_TRUE(done) << "task " << task->taskIdentifier() << " did not complete";
    return logs_[task->taskIdentifier()];
  }
  bool waitForInvalidation(std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return invalidations_ > 0; });
  }
  TaskLog log(const TaskPtr& task) {
    std::lock_guard guard(mutex_);
    return logs_[task->taskIdentifier()];
  }
  int invalidations() {
    std::lock_guard guard(mutex_);
    return invalidations_;
  }
  bool offQueueCallbackSeen() {
    std::lock_guard guard(mutex_);
    return offQueue_;
  }

 private:
  template <typename Update>
  void record(const TaskPtr& task, const char* name, Update update) {
    std::lock_guard guard(mutex_);
    checkQueue();
    TaskLog& log = logs_[task->taskIdentifier()];
    // Progress events may come in any number; keep one entry per run of them.
    if (log.events.empty() || log.events.back() != name ||
        (std::string(name) != "data" && std::string(name) != "write")) {
      log.events.emplace_back(name);
    }
    update(log);
    changed_.notify_all();
  }
  void checkQueue() {
    if (!queue_->isCurrent()) offQueue_ = true;
  }

  std::shared_ptr<DispatchQueue> queue_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::uint64_t, TaskLog> logs_;
  int invalidations_ = 0;
  bool offQueue_ = false;
};

class URLSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    queue_ = DispatchQueue::make("test.session.root");
    delegate_ = std::make_shared<RecordingDelegate>(queue_);
    configuration_ = URLSessionConfiguration::defaultConfiguration();
    configuration_.additionalCAFile = test::TestCertificate::shared().caFile();
  }
  void TearDown() override {
    if (session_) {
      session_->invalidateAndCancel();
      EXPECT_TRUE(delegate_->waitForInvalidation());
      session_.reset();  // closes its connections before the servers stop
    }
    EXPECT_FALSE(delegate_->offQueueCallbackSeen());
  }

  URLSession& session() {
    if (!session_) session_ = URLSession::make(configuration_, delegate_, queue_);
    return *session_;
  }
  TaskLog run(const TaskPtr& task) {
    task->resume();
    return delegate_->waitFor(task);
  }

  std::shared_ptr<DispatchQueue> queue_;
  std::shared_ptr<RecordingDelegate> delegate_;
  URLSessionConfiguration configuration_;
  // A second server, for a test that needs plain HTTP or another origin. A member, so it
  // outlives the session: a server dropped while the session still holds a connection to
  // it waits out that connection's keep-alive.
  LoopbackServer& other(bool https = true) {
    other_.emplace(https ? LoopbackServer::Options{} : LoopbackServer::plainHTTP());
    return *other_;
  }

  std::optional<LoopbackServer> other_;
  std::shared_ptr<URLSession> session_;
  LoopbackServer server_;
};

// ---- data tasks -----------------------------------------------------------------------------

// The head's fields themselves are read and described by ResponseHeadTests.
TEST_F(URLSessionTest, DataTaskDeliversResponseThenEveryByteThenMetricsThenCompletion) {
  const std::string body = patternBytes(256 * 1024);
  server_.serveBody("/body", body);
  auto task = session().dataTask(request(server_.url("/body")));
  EXPECT_EQ(task->state(), URLSessionTask::State::suspended);
  const TaskLog log = run(task);

  ASSERT_EQ(log.error, nullptr) << log.error->debugDescription();
  EXPECT_EQ(log.events, (std::vector<std::string>{"response", "data", "metrics", "complete"}));
  EXPECT_EQ(log.data.size(), body.size());
  EXPECT_TRUE(log.data == body);
  ASSERT_TRUE(log.response);
  EXPECT_EQ(log.response->statusCode, 200);
  EXPECT_EQ(log.response->expectedContentLength, static_cast<std::int64_t>(body.size()));
  EXPECT_EQ(log.response->mimeType, "application/octet-stream");
  EXPECT_EQ(task->state(), URLSessionTask::State::completed);
  EXPECT_EQ(task->countOfBytesReceived(), static_cast<std::int64_t>(body.size()));
}

TEST_F(URLSessionTest, RequestHeadersWinOverSessionHeadersAndBodiesAreSent) {
  configuration_.httpAdditionalHeaders =
      HeaderFields{{"X-Session", "s"}, {"X-Both", "from-session"}};
  server_.post("/echo", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.body, "text/plain");
  });
  URLRequest post = request(server_.url("/echo?q=1"));
  post.httpMethod = "POST";
  post.httpBody = "a=1&b=2";
  post.setValue("from-request", "x-both");
  const TaskLog log = run(session().dataTask(post));

  ASSERT_EQ(log.error, nullptr);
  EXPECT_EQ(log.data, "a=1&b=2");
  const auto seen = server_.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].query, "q=1");
  EXPECT_EQ(seen[0].header("X-Session"), "s");
  EXPECT_EQ(seen[0].header("X-Both"), "from-request");
  EXPECT_FALSE(seen[0].header("Expect").has_value());
  // Nothing the caller did not ask for: libcurl would otherwise add "Accept: */*".
  EXPECT_FALSE(seen[0].header("Accept").has_value());
}

class BodylessMethodTest : public URLSessionTest,
                           public ::testing::WithParamInterface<std::string> {};

TEST_P(BodylessMethodTest, GoesOutAsItsOwnMethod) {
  const auto echo = [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.method, "text/plain");
  };
  server_.server().Post("/m", echo).Put("/m", echo).Patch("/m", echo).Delete("/m", echo);
  URLRequest bodyless = request(server_.url("/m"));
  bodyless.httpMethod = GetParam();
  const TaskLog log = run(session().dataTask(bodyless));
  ASSERT_EQ(log.error, nullptr) << log.error->debugDescription();
  EXPECT_EQ(log.data, GetParam());
  const auto seen = server_.requests().at(0);
  EXPECT_EQ(seen.method, GetParam());
  EXPECT_TRUE(seen.body.empty());
  // An empty body is no form.
  EXPECT_FALSE(seen.header("Content-Type").has_value());
}

INSTANTIATE_TEST_SUITE_P(Methods, BodylessMethodTest,
                         ::testing::Values("POST", "PUT", "PATCH", "DELETE"),
                         [](const auto& info) { return info.param; });

TEST_F(URLSessionTest, ResponseDispositionCancelEndsTheTaskWithoutData) {
  server_.serveBody("/body", patternBytes(1000));
  delegate_->disposition = ResponseDisposition::cancel;
  const TaskLog log = run(session().dataTask(request(server_.url("/body"))));
  ASSERT_NE(log.urlError(), nullptr);
  EXPECT_EQ(log.urlError()->code(), URLError::cancelled);
  EXPECT_TRUE(log.data.empty());
  EXPECT_EQ(log.events, (std::vector<std::string>{"response", "metrics", "complete"}));
}

// Decoding is libcurl's; what matters here is that it is turned on for the caller's encoding.
TEST_F(URLSessionTest, CompressedBodyArrivesDecoded) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "line " + std::to_string(i) + " of a compressible text\n";
  server_.serveBody("/text", text, "text/plain");  // the server compresses text itself
  URLRequest get = request(server_.url("/text"));
  get.setValue("gzip", "Accept-Encoding");
  const TaskLog log = run(session().dataTask(get));

  ASSERT_EQ(log.error, nullptr) << log.error->debugDescription();
  EXPECT_EQ(log.response->allHeaderFields.value("Content-Encoding"), "gzip");
  EXPECT_TRUE(log.data == text);
}

// ---- redirects -------------------------------------------------------------------------------

TEST_F(URLSessionTest, RedirectsAreOfferedToTheDelegateHopByHop) {
  server_.get("/a",
              [](const httplib::Request&, httplib::Response& r) { r.set_redirect("/b", 302); });
  server_.get("/b", [](const httplib::Request&, httplib::Response& r) {
    r.set_redirect("/final?x=1", 307);
  });
  server_.serveBody("/final", "done");
  auto task = session().dataTask(request(server_.url("/a")));
  const TaskLog log = run(task);

  ASSERT_EQ(log.error, nullptr);
  EXPECT_EQ(log.data, "done");
  EXPECT_EQ(log.redirects, (std::vector<std::string>{"302 " + server_.url("/b"),
                                                     "307 " + server_.url("/final?x=1")}));
  EXPECT_EQ(log.response->url.absoluteString(), server_.url("/final?x=1"));
  EXPECT_EQ(task->currentRequest()->url->absoluteString(), server_.url("/final?x=1"));
  EXPECT_EQ(task->originalRequest()->url->absoluteString(), server_.url("/a"));
  EXPECT_EQ(log.redirectCount, 2);  // what the hop limit counts
}

// A refused redirect is the answer, body and all. Data tasks wait for the delegate's verdict
// on it; downloads let its body flow on their own, and must not wait for the time-out.
class RefusedRedirectTest : public URLSessionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RefusedRedirectTest, DeliversTheRedirectResponse) {
  server_.get("/a", [](const httplib::Request&, httplib::Response& r) {
    r.status = 302;
    r.set_header("Location", "/b");
    r.set_content(patternBytes(5000), "text/html");
  });
  delegate_->followRedirects = false;
  const URLRequest get = request(server_.url("/a"), 5);
  const bool download = GetParam();
  auto task = download ? session().downloadTask(get) : session().dataTask(get);
  const TaskLog log = run(task);
  ASSERT_EQ(log.error, nullptr) << log.error->debugDescription();
  EXPECT_EQ(task->response()->statusCode, 302);
  EXPECT_TRUE((download ? log.downloadedFile.value_or("") : log.data) == patternBytes(5000));
  EXPECT_EQ(server_.requestCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RefusedRedirectTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Download" : "Data"; });

TEST_F(URLSessionTest, WithoutADelegateRedirectsAreFollowedAndResponsesAllowed) {
  server_.get("/a",
              [](const httplib::Request&, httplib::Response& r) { r.set_redirect("/body", 302); });
  server_.serveBody("/body", "done");
  auto silent = URLSession::make(configuration_, nullptr, queue_);
  auto task = silent->dataTask(request(server_.url("/a")));
  task->resume();
  EXPECT_TRUE(test::waitUntil([&] { return task->state() == URLSessionTask::State::completed; }));
  ASSERT_TRUE(task->response());
  EXPECT_EQ(task->response()->statusCode, 200);
  EXPECT_EQ(task->countOfBytesReceived(), 4);
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST_F(URLSessionTest, CrossOriginRedirectDropsTheSessionsCredentialsToo) {
  configuration_.httpAdditionalHeaders =
      HeaderFields{{"Authorization", "Bearer session"}, {"Cookie", "s=1"}, {"X-Session", "kept"}};
  LoopbackServer& landing = other();
  landing.serveBody("/landing", "landed");
  const std::string target = landing.url("/landing");
  server_.get("/a",
              [&](const httplib::Request&, httplib::Response& r) { r.set_redirect(target, 302); });
  const TaskLog log = run(session().dataTask(request(server_.url("/a"))));
  ASSERT_EQ(log.error, nullptr) << log.error->debugDescription();
  EXPECT_EQ(server_.requests().at(0).header("Authorization"), "Bearer session");
  const auto landed = landing.requests().at(0);
  EXPECT_FALSE(landed.header("Authorization").has_value());
  EXPECT_FALSE(landed.header("Cookie").has_value());
  EXPECT_EQ(landed.header("X-Session"), "kept");
}

// ---- failures -------------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  void (*serve)(LoopbackServer&);  // registers "/"; none: nothing listens at all
  URLError::Code code;
  LoopbackServer::Options (*options)() = [] { return LoopbackServer::Options{}; };
  bool trustTheTestCA = true;
  double timeout = 10;
};

void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.name; }

class FailureTest : public URLSessionTest, public ::testing::WithParamInterface<FailureCase> {};

// Downloads, so that a partial file handed over as finished would show.
TEST_P(FailureTest, EndsTheTaskWithTheMatchingError) {
  if (!GetParam().trustTheTestCA) configuration_.additionalCAFile.reset();
  std::string url = "https://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()) + "/";
  if (GetParam().serve) {
    other_.emplace(GetParam().options());
    GetParam().serve(*other_);
    url = other_->url("/");
  }
  const TaskLog log = run(session().downloadTask(request(url, GetParam().timeout)));
  ASSERT_NE(log.urlError(), nullptr);
  EXPECT_EQ(log.urlError()->code(), GetParam().code) << log.error->debugDescription();
  EXPECT_FALSE(log.downloadedFile.has_value());
  EXPECT_EQ(log.metrics, 1);
}

void secret(LoopbackServer& server) { server.serveBody("/", "secret"); }
void cutShort(LoopbackServer& server) { server.shortBody("/", 100000, patternBytes(20000)); }
LoopbackServer::Options certified(test::TestCertificate::Pair pair) {
  return LoopbackServer::Options{.certificate = std::move(pair)};
}

// TestCANotAdded is the other half of the certificate rows: without the extra CA file the
// loopback server is untrusted too, so the successes elsewhere really come from that file.
// StalledBody is plain HTTP: under sanitizers a TLS handshake alone can take longer than a
// short time-out; a whole second, so the first bytes arrive before it runs out even on a
// loaded machine under ThreadSanitizer.
INSTANTIATE_TEST_SUITE_P(
    Failures, FailureTest,
    ::testing::Values(
        FailureCase{"RefusedConnection", nullptr, URLError::cannotConnectToHost},
        FailureCase{"UnknownAuthority", secret, URLError::serverCertificateUntrusted,
                    [] { return certified(test::TestCertificate::shared().untrusted()); }},
        FailureCase{"WrongHostName", secret, URLError::serverCertificateUntrusted,
                    [] { return certified(test::TestCertificate::shared().wrongHost()); }},
        FailureCase{"TestCANotAdded", secret, URLError::serverCertificateUntrusted,
                    [] { return LoopbackServer::Options{}; }, false},
        FailureCase{"BodyCutShortByClose", cutShort, URLError::networkConnectionLost},
        FailureCase{
            "BodyCutShortByReset", cutShort, URLError::networkConnectionLost,
            [] { return LoopbackServer::Options{.certificate = {}, .resetConnections = true}; }},
        FailureCase{"StalledBody",
                    [](LoopbackServer& server) { server.dripFeed("/", 1000, 11, 1h); },
                    URLError::timedOut, [] { return LoopbackServer::plainHTTP(); }, true, 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- downloads -------------------------------------------------------------------------------

class DownloadTest : public URLSessionTest {
 protected:
  void SetUp() override {
    URLSessionTest::SetUp();
    content_ = patternBytes(1024 * 1024 + 123, 7);
    file_ = folder_.path() / "file.bin";
    test::writeFile(file_, content_);
  }

  test::TemporaryDirectory folder_;
  std::string content_;
  std::filesystem::path file_;
};

TEST_F(DownloadTest, WritesTheBodyToATemporaryFileReportedBeforeCompletion) {
  server_.serveFile("/file.bin", file_, "\"v1\"");
  auto task = session().downloadTask(request(server_.url("/file.bin")));
  const TaskLog log = run(task);

  ASSERT_EQ(log.error, nullptr) << log.error->debugDescription();
  EXPECT_EQ(log.events, (std::vector<std::string>{"write", "finished", "metrics", "complete"}));
  ASSERT_TRUE(log.downloadedFile);
  EXPECT_TRUE(*log.downloadedFile == content_);
  EXPECT_EQ(log.writtenSum, static_cast<std::int64_t>(content_.size()));
  EXPECT_EQ(log.lastTotalWritten, static_cast<std::int64_t>(content_.size()));
  EXPECT_EQ(task->countOfBytesExpectedToReceive(), static_cast<std::int64_t>(content_.size()));
  // Not moved away by the delegate: the transport removes it.
  EXPECT_FALSE(std::filesystem::exists(log.downloadLocation));
}

TEST_F(DownloadTest, CancelWithResumeDataThenResumeGivesAByteIdenticalFile) {
  server_.serveFile("/file.bin", file_, "\"v1\"", 20ms);  // slowed down
  std::promise<std::optional<Data>> produced;
  auto once = std::make_shared<std::once_flag>();
  delegate_->onWrite = [&, once](const TaskPtr& task) {  // cancels after the first bytes
    std::call_once(*once, [&] {
      task->cancelByProducingResumeData(
          [&](std::optional<Data> data) { produced.set_value(std::move(data)); });
    });
  };
  const TaskLog first = run(session().downloadTask(request(server_.url("/file.bin"))));
  delegate_->onWrite = nullptr;
  const std::optional<Data> resumeData = produced.get_future().get();
  ASSERT_NE(first.urlError(), nullptr);
  EXPECT_EQ(first.urlError()->code(), URLError::cancelled);
  EXPECT_EQ(first.urlError()->downloadTaskResumeData(), resumeData);
  ASSERT_TRUE(resumeData.has_value());
  const auto decoded = ResumeData::decode(*resumeData);
  ASSERT_TRUE(decoded);
  ASSERT_GT(decoded->bytesReceived, 0);
  ASSERT_LT(decoded->bytesReceived, static_cast<std::int64_t>(content_.size()));

  auto second = session().downloadTask(*resumeData);
  const TaskLog log = run(second);
  ASSERT_EQ(log.error, nullptr) << log.error->debugDescription();
  EXPECT_EQ(log.resumedAt,
            (std::vector<std::pair<std::int64_t, std::int64_t>>{
                {decoded->bytesReceived, static_cast<std::int64_t>(content_.size())}}));
  ASSERT_TRUE(log.downloadedFile);
  EXPECT_TRUE(*log.downloadedFile == content_);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header("Range"), "bytes=" + std::to_string(decoded->bytesReceived) + "-");
  EXPECT_EQ(requests[1].header("If-Range"), "\"v1\"");
  // The rest is asked for uncoded: ranges of a coded body do not count the file's bytes.
  EXPECT_NE(requests[0].header("Accept-Encoding"), "identity");
  EXPECT_EQ(requests[1].header("Accept-Encoding"), "identity");
  EXPECT_FALSE(std::filesystem::exists(decoded->temporaryFile));
}

TEST_F(DownloadTest, UnreadableResumeDataFailsTheTask) {
  const TaskLog log = run(session().downloadTask(Data("not resume data")));
  ASSERT_NE(log.urlError(), nullptr);
  EXPECT_EQ(log.urlError()->code(), URLError::cannotDecodeRawData);
  EXPECT_EQ(log.events, (std::vector<std::string>{"metrics", "complete"}));
}

// ---- lifecycle -------------------------------------------------------------------------------

TEST_F(URLSessionTest, SuspendedTaskResumesAndFinishes) {
  LoopbackServer& plain = other(false);  // see the time-out tests
  plain.dripFeed("/drip", 300, 100, 50ms);
  auto task = session().dataTask(request(plain.url("/drip"), 0.3));
  task->resume();
  EXPECT_EQ(task->state(), URLSessionTask::State::running);
  std::this_thread::sleep_for(60ms);
  task->suspend();
  EXPECT_EQ(task->state(), URLSessionTask::State::suspended);
  // Longer than the inactivity time-out: suspension is not inactivity.
  std::this_thread::sleep_for(500ms);
  task->resume();
  const TaskLog log = delegate_->waitFor(task);
  ASSERT_EQ(log.error, nullptr) << log.error->debugDescription();
  EXPECT_TRUE(log.data == patternBytes(300));
}

TEST_F(URLSessionTest, EveryOneOfManyConcurrentTasksGetsOneMetricsAndOneCompletion) {
  server_.serveBody("/small", patternBytes(2000));
  server_.dripFeed("/slow", 1000, 250, 50ms);
  const std::string refused =
      "https://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()) + "/";
  std::vector<TaskPtr> tasks;
  for (int i = 0; i < 40; ++i) {
    URLRequest r = request(i % 10 == 9 ? refused : server_.url(i % 3 == 0 ? "/slow" : "/small"));
    tasks.push_back(i % 2 == 0 ? session().dataTask(r) : session().downloadTask(r));
    if (i % 7 != 6) tasks.back()->resume();  // some are cancelled before they ever ran
  }
  for (int i = 0; i < 40; i += 5) tasks[i]->cancel();
  for (int i = 6; i < 40; i += 7) tasks[i]->cancel();

  for (const auto& task : tasks) {
    const TaskLog log = delegate_->waitFor(task, 30s);
    EXPECT_EQ(log.metrics, 1) << task->taskIdentifier();
    EXPECT_EQ(log.completions, 1) << task->taskIdentifier();
    ASSERT_GE(log.events.size(), 2u);
    EXPECT_EQ(log.events[log.events.size() - 2], "metrics");
    EXPECT_EQ(log.events.back(), "complete");
    EXPECT_EQ(task->state(), URLSessionTask::State::completed);
  }
  // Nothing late: wait a moment and look again.
  std::this_thread::sleep_for(100ms);
  for (const auto& task : tasks) {
    const TaskLog log = delegate_->log(task);
    EXPECT_EQ(log.metrics, 1);
    EXPECT_EQ(log.completions, 1);
  }
}

TEST_F(URLSessionTest, InvalidateAndCancelEndsEveryTaskThenReportsInvalidationOnce) {
  server_.dripFeed("/stall", 1000, 1, 1h);
  std::vector<TaskPtr> tasks{session().dataTask(request(server_.url("/stall"))),
                             session().downloadTask(request(server_.url("/stall"))),
                             session().dataTask(request(server_.url("/stall")))};
  tasks[0]->resume();
  tasks[1]->resume();  // the third is never resumed
  std::weak_ptr<URLSession> weak = session_;
  session_->invalidateAndCancel();
  session_.reset();  // the session keeps itself alive until its final callback

  ASSERT_TRUE(delegate_->waitForInvalidation());
  for (const auto& task : tasks) {
    const TaskLog log = delegate_->log(task);
    EXPECT_EQ(log.completions, 1);
    EXPECT_EQ(log.metrics, 1);
    ASSERT_NE(log.urlError(), nullptr);
    EXPECT_EQ(log.urlError()->code(), URLError::cancelled);
  }
  EXPECT_EQ(delegate_->invalidations(), 1);
  EXPECT_TRUE(test::waitUntil([&] { return weak.expired(); }, 1s));
}

// After the transport has shut down (its session dropped), a task is still told apart from
// a running one: each call ends it, once, and a caller waiting for resume data hears back.
enum class LateCall { resume, cancel, cancelProducingResumeData };
constexpr const char* kLateCalls[] = {"Resume", "Cancel", "CancelProducingResumeData"};
void PrintTo(LateCall call, std::ostream* out) { *out << kLateCalls[static_cast<int>(call)]; }

class AfterShutdownTest : public URLSessionTest, public ::testing::WithParamInterface<LateCall> {};

TEST_P(AfterShutdownTest, EndsTheTaskOnce) {
  auto task = session().downloadTask(request(server_.url("/never")));
  std::weak_ptr<URLSession> weak = session_;
  session_.reset();
  ASSERT_TRUE(weak.expired());
  auto handed = std::make_shared<std::atomic<int>>(0);
  switch (GetParam()) {
    case LateCall::resume:
      task->resume();
      break;
    case LateCall::cancel:
      task->cancel();
      break;
    case LateCall::cancelProducingResumeData:
      task->cancelByProducingResumeData([handed](std::optional<Data> data) {
        EXPECT_FALSE(data.has_value());
        ++*handed;
      });
      break;
  }
  EXPECT_EQ(task->state(), URLSessionTask::State::completed);
  task->cancelByProducingResumeData([handed](std::optional<Data>) { ++*handed; });
  const int expected = GetParam() == LateCall::cancelProducingResumeData ? 2 : 1;
  EXPECT_TRUE(test::waitUntil([&] { return handed->load() == expected; }));
  drain(queue_);
  EXPECT_EQ(handed->load(), expected);
}

INSTANTIATE_TEST_SUITE_P(Calls, AfterShutdownTest,
                         ::testing::Values(LateCall::resume, LateCall::cancel,
                                           LateCall::cancelProducingResumeData),
                         [](const auto& info) {
                           return std::string(kLateCalls[static_cast<int>(info.param)]);
                         });

TEST(CurlMultiDeathTest, HandlesAreTouchedOnlyOnTheNetworkThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto engine = CurlMulti::start("net-test");
        (void)engine->takeEasy();
      },
      "CurlMulti::takeEasy must run on the network thread");
}

}  // namespace
}  // namespace tolvane::platform
