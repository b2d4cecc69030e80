#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/CurlMulti.h"
#include "Platform/DownloadFile.h"
#include "Platform/ResponseHead.h"
#include "Platform/ResumeData.h"
#include "Platform/TaskEvents.h"
#include "Platform/ThreadSafety.h"
#include "Platform/TransferContext.h"
#include "Platform/TransferDeadlines.h"
#include "Platform/TransferFailure.h"
#include "Platform/URLError.h"
#include "Platform/URLSession.h"
#include "Platform/UnfairLock.h"

namespace tolvane::platform {

// The working part of one URLSessionTask. Its state machine runs on the network thread
// (CurlMulti): the easy handle, libcurl's callbacks, the file of a download and the
// fields marked "network thread" are only touched there. Public operations may come from
// any thread: they update the fields guarded by lock_ and post a command to the network
// thread. The parts with rules of their own live apart: ResponseHeadReader reads the head,
// RedirectPolicy decides each hop, DownloadFile keeps a download's file, TransferDeadlines
// the time-outs, and setUpRequest turns a request into libcurl options. Every delegate callback is
// posted from the network thread, so a task's callbacks reach the delegate queue in the order they
// happened.
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

  void attach(std::weak_ptr<URLSessionTask> publicTask) { events_.attach(std::move(publicTask)); }

  [[nodiscard]] std::uint64_t identifier() const { return identifier_; }
  [[nodiscard]] Kind kind() const { return kind_; }
  [[nodiscard]] State state() const TOLVANE_EXCLUDES(lock_);
  [[nodiscard]] std::optional<URLRequest> originalRequest() const TOLVANE_EXCLUDES(lock_);
  [[nodiscard]] std::optional<URLRequest> currentRequest() const TOLVANE_EXCLUDES(lock_);
  [[nodiscard]] std::shared_ptr<const HTTPURLResponse> response() const TOLVANE_EXCLUDES(lock_);
  [[nodiscard]] std::int64_t countOfBytesReceived() const TOLVANE_EXCLUDES(lock_);
  [[nodiscard]] std::int64_t countOfBytesExpectedToReceive() const TOLVANE_EXCLUDES(lock_);

  void resume() TOLVANE_EXCLUDES(lock_);
  void suspend() TOLVANE_EXCLUDES(lock_);
  void cancel() TOLVANE_EXCLUDES(lock_);
  void cancelByProducingResumeData(std::function<void(std::optional<Data>)> handler)
      TOLVANE_EXCLUDES(lock_);

  TransferTask(const TransferTask&) = delete;
  TransferTask& operator=(const TransferTask&) = delete;

 private:
  using Clock = std::chrono::steady_clock;
  // At most one progress event per interval (plus one before the end): smooth enough for
  // a progress bar, and rare enough that a fast transfer is not slowed by its own events.
  static constexpr auto kProgressInterval = std::chrono::milliseconds(20);

  // libcurl callbacks (network thread).
  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
  static int onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                        curl_off_t uploadTotal, curl_off_t uploaded);

  // Network thread (each stops the process when called elsewhere, through this).
  void checkOnNetworkThread(const char* operation) const;
  void start();
  void startAttempt(const URLRequest& request);
  bool configure(CURL* easy, const URLRequest& request);
  bool headersComplete();
  bool finalResponse(const std::shared_ptr<const HTTPURLResponse>& head);
  void transferDone(CURLcode result);
  void redirectDecided(std::uint64_t generation, std::optional<URLRequest> request);
  void responseDecided(std::uint64_t generation, ResponseDisposition disposition);
  // A completion handler for the delegate's answer: the first call hands it to `decided` on
  // the network thread, which ignores it once the attempt it was asked about is over.
  template <typename Answer>
  std::function<void(Answer)> answerOnce(void (TransferTask::*decided)(std::uint64_t, Answer));
  void doSuspend();
  void doResume();
  void doCancel(bool produceResumeData, std::function<void(std::optional<Data>)> handler);
  void stopTransfer();
  void collectMetrics();
  std::optional<Data> makeResumeData() const;
  void abort(TransferFailure failure) { abort_ = std::move(failure); }
  void finish(std::optional<URLError::Code> code, std::string detail = {},
              bool produceResumeData = false,
              std::function<void(std::optional<Data>)> resumeHandler = nullptr,
              ErrorPtr cause = nullptr);
  void finish(const TransferFailure& failure);
  std::shared_ptr<const HTTPURLResponse> makeResponse() const;

  // Any thread: hands `work` to the network thread; once the transport has shut down, ends
  // the task as cancelled instead and gives `resumeHandler` no data.
  void command(std::function<void()> work,
               std::function<void(std::optional<Data>)> resumeHandler = nullptr);
  void postCoalescedProgress() TOLVANE_REQUIRES(lock_);
  // Network thread: hands progress held back by the pacing to the delegate once it is due
  // (or at once with `force`, before the task's final events).
  void flushHeldProgress(Clock::time_point now, bool force = false) TOLVANE_EXCLUDES(lock_);

  const std::shared_ptr<const TransferContext> context_;
  const std::uint64_t identifier_;
  const Kind kind_;
  TaskEvents events_;

  mutable UnfairLock lock_;
  State state_ TOLVANE_GUARDED_BY(lock_) = State::suspended;
  URLRequest originalRequest_ TOLVANE_GUARDED_BY(lock_);
  URLRequest currentRequest_ TOLVANE_GUARDED_BY(lock_);
  std::shared_ptr<const HTTPURLResponse> response_ TOLVANE_GUARDED_BY(lock_);
  std::int64_t bytesReceived_ TOLVANE_GUARDED_BY(lock_) = 0;
  std::int64_t bytesExpected_ TOLVANE_GUARDED_BY(lock_) = kTransferSizeUnknown;
  // Download: bytes in the file, resumed part included.
  std::int64_t fileBytes_ TOLVANE_GUARDED_BY(lock_) = 0;
  // Progress not yet handed to the delegate (coalesced: one pending event at a time).
  Data pendingData_ TOLVANE_GUARDED_BY(lock_);
  std::int64_t pendingWritten_ TOLVANE_GUARDED_BY(lock_) = 0;
  bool progressEventPending_ TOLVANE_GUARDED_BY(lock_) = false;
  // Metrics and completion have been posted.
  bool completionReported_ TOLVANE_GUARDED_BY(lock_) = false;

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
  ResponseHeadReader head_;
  bool gateOpen_ = false;  // body may flow: the final response has been accepted
  bool doneParked_ = false;
  std::shared_ptr<const HTTPURLResponse> pendingRedirectHead_;
  std::optional<TransferFailure> abort_;
  std::optional<std::int64_t> bodyLimit_;  // the attempt's maximumBodyLength
  TransferDeadlines deadlines_;
  bool crossedOrigin_ = false;  // a redirect left the origin: no session credentials
  DownloadFile file_;
  bool resumeReported_ = false;
  int lastStatus_ = 0;
  // Progress pacing: when the last progress event was posted, and whether bytes arrived
  // since that were not announced because it was too soon.
  Clock::time_point lastProgressPost_{};
  bool progressHeld_ = false;
  // Metrics.
  Clock::time_point taskStart_{};
  URLSessionTaskMetrics metrics_;
};

}  // namespace tolvane::platform
