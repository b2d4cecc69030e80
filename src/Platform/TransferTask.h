#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/CurlMulti.h"
#include "Platform/FileDescriptor.h"
#include "Platform/ResumeData.h"
#include "Platform/URLError.h"
#include "Platform/URLSession.h"

namespace tolvane::platform {

// The session's delegate, touched only on the delegate queue; the session clears it
// after the final invalidation callback.
struct DelegateSlot {
  std::shared_ptr<URLSessionDelegate> delegate;
};

// What every task of one transport session shares.
struct TransferContext {
  std::shared_ptr<CurlMulti> engine;
  std::shared_ptr<DispatchQueue> queue;
  std::weak_ptr<URLSession> session;
  std::shared_ptr<DelegateSlot> delegate;
  URLSessionConfiguration configuration;
  // The delegate's decidesResponses(), fixed for the session's life.
  bool responsesGated = true;
  // A file with the system CAs plus the configuration's extra CA file; empty when there
  // is no extra file and libcurl's own defaults apply.
  std::filesystem::path caBundle;
  // Runs on the delegate queue right after a task's completion callback.
  std::function<void(std::uint64_t taskIdentifier)> completionDelivered;
};

// Whether `path` is a partial download file the transport made in the temp folder.
[[nodiscard]] bool isTransportTemporaryFile(const std::filesystem::path& path);

// The working part of one URLSessionTask. Its state machine runs on the network thread
// (CurlMulti): the easy handle, libcurl's callbacks, the file of a download and the
// fields marked "network thread" are only touched there. Public operations may come from
// any thread: they update the fields guarded by mutex_ and post a command to the network
// thread. Every delegate callback is posted from the network thread, so a task's
// callbacks reach the delegate queue in the order they happened.
class TransferTask : public std::enable_shared_from_this<TransferTask> {
 public:
  using Kind = URLSessionTask::Kind;
  using State = URLSessionTask::State;

  // `startError`: the task cannot run (unreadable resume data, invalidated session); it
  // fails with that code once resumed or cancelled.
  TransferTask(std::shared_ptr<const TransferContext> context, std::uint64_t identifier, Kind kind,
               URLRequest request, std::optional<ResumeData> resumeData,
               std::optional<URLError::Code> startError);
  ~TransferTask();

  void attach(std::weak_ptr<URLSessionTask> publicTask) { publicTask_ = std::move(publicTask); }

  [[nodiscard]] std::uint64_t identifier() const { return identifier_; }
  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] State state() const;
  [[nodiscard]] std::optional<URLRequest> originalRequest() const;
  [[nodiscard]] std::optional<URLRequest> currentRequest() const;
  [[nodiscard]] std::shared_ptr<const HTTPURLResponse> response() const;
  [[nodiscard]] std::int64_t countOfBytesReceived() const;
  [[nodiscard]] std::int64_t countOfBytesExpectedToReceive() const;

  void resume();
  void suspend();
  void cancel();
  void cancelByProducingResumeData(std::function<void(std::optional<Data>)> handler);

  TransferTask(const TransferTask&) = delete;
  TransferTask& operator=(const TransferTask&) = delete;

 private:
  using Clock = std::chrono::steady_clock;
  using Event = std::function<void(URLSession&, URLSessionDelegate&, const TaskPtr&)>;

  // libcurl callbacks (network thread).
  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
  static int onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                        curl_off_t uploadTotal, curl_off_t uploaded);

  // Network thread.
  void start();
  void startAttempt(const URLRequest& request);
  bool configure(CURL* easy, const URLRequest& request);
  bool headersComplete();
  bool finalResponse(const std::shared_ptr<const HTTPURLResponse>& head);
  bool prepareFile(const HTTPURLResponse& head);
  // Gives a nameless download file its name in the temp folder.
  void nameFile();
  void transferDone(CURLcode result);
  void redirectDecided(std::uint64_t generation, std::optional<URLRequest> request);
  void responseDecided(std::uint64_t generation, ResponseDisposition disposition);
  void doSuspend();
  void doResume();
  void doCancel(bool produceResumeData, std::function<void(std::optional<Data>)> handler);
  void stopTransfer();
  void collectMetrics();
  std::optional<Data> makeResumeData() const;
  void finish(std::optional<URLError::Code> code, std::string detail = {},
              bool produceResumeData = false,
              std::function<void(std::optional<Data>)> resumeHandler = nullptr);
  std::shared_ptr<HTTPURLResponse> makeResponse() const;

  // Any thread: queues `event` for the delegate on the delegate queue.
  void post(Event event);
  // Any thread: asks the delegate through `ask`, or runs `fallback` (the platform's default
  // answer) when there is no delegate to ask.
  void postDecision(Event ask, std::function<void()> fallback);
  // Any thread: the task's completion callback, then the session's bookkeeping.
  void postCompletion(const ErrorPtr& error);
  // Any thread: hands `work` to the network thread; once the transport has shut down, ends
  // the task as cancelled instead and gives `resumeHandler` no data.
  void command(std::function<void()> work,
               std::function<void(std::optional<Data>)> resumeHandler = nullptr);
  void postCoalescedProgress();

  const std::shared_ptr<const TransferContext> context_;
  const std::uint64_t identifier_;
  const Kind kind_;
  std::weak_ptr<URLSessionTask> publicTask_;

  mutable std::mutex mutex_;  // guards the fields down to the network-thread block
  State state_ = State::suspended;
  URLRequest originalRequest_;
  URLRequest currentRequest_;
  std::shared_ptr<const HTTPURLResponse> response_;
  std::int64_t bytesReceived_ = 0;
  std::int64_t bytesExpected_ = kTransferSizeUnknown;
  std::int64_t fileBytes_ = 0;  // download: bytes in the file, resumed part included
  // Progress not yet handed to the delegate (coalesced: one pending event at a time).
  Data pendingData_;
  std::int64_t pendingWritten_ = 0;
  bool progressEventPending_ = false;
  bool completionReported_ = false;  // metrics and completion have been posted

  // Network thread.
  std::optional<URLError::Code> startError_;
  std::optional<ResumeData> resumeData_;
  bool started_ = false;
  bool finished_ = false;
  bool userPaused_ = false;
  CurlEasy easy_;
  CurlSlist headerList_;
  bool inMulti_ = false;
  char errorText_[CURL_ERROR_SIZE] = {};
  std::uint64_t generation_ = 0;
  int statusCode_ = 0;
  HeaderFields headers_;
  bool headersDone_ = false;
  bool gateOpen_ = false;  // body may flow: the final response has been accepted
  bool doneParked_ = false;
  std::shared_ptr<const HTTPURLResponse> pendingRedirectHead_;
  std::optional<URLError::Code> abortCode_;
  std::string abortDetail_;
  double timeoutSeconds_ = 60;
  std::optional<std::int64_t> bodyLimit_;  // the attempt's maximumBodyLength
  Clock::time_point lastActivity_{};
  curl_off_t lastMoved_ = 0;
  Clock::time_point windowStart_{};
  curl_off_t windowMoved_ = 0;
  bool lowSpeedArmed_ = false;  // the first body byte of this attempt has arrived
  bool crossedOrigin_ = false;  // a redirect left the origin: no session credentials
  // Download file.
  FileDescriptor file_;
  std::filesystem::path filePath_;    // empty while the file is nameless
  std::filesystem::path fileFolder_;  // where the file gets its name
  std::int64_t fileOffset_ = 0;       // bytes that were in the file before this transfer
  std::int64_t written_ = 0;
  bool sendRange_ = false;
  bool discardPartial_ = false;  // the partial file must not be continued
  bool resumeReported_ = false;
  std::string validator_;
  int lastStatus_ = 0;
  // Metrics.
  Clock::time_point taskStart_{};
  URLSessionTaskMetrics metrics_;
};

}  // namespace tolvane::platform
