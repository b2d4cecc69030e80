// The part of a transfer task that takes in what the server sends, on the network thread:
// libcurl's header, body and progress callbacks, and the redirect and response decisions
// they lead to.
#include <mutex>
#include <system_error>
#include <utility>
#include <variant>

#include "Platform/RedirectPolicy.h"
#include "Platform/TransferTask.h"

namespace tolvane::platform {

std::size_t TransferTask::onHeader(char* data, std::size_t size, std::size_t count, void* opaque) {
  auto* self = static_cast<TransferTask*>(opaque);
  const std::size_t length = size * count;
  self->deadlines_.activity(Clock::now());
  if (!self->head_.take(std::string_view(data, length))) return length;
  return self->headersComplete() ? length : 0;
}

std::shared_ptr<const HTTPURLResponse> TransferTask::makeResponse() const {
  std::optional<URL> url;
  {
    UnfairLock::Locker locker(lock_);
    url = currentRequest_.url;
  }
  curl_off_t length = -1;
  if (curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
      length < 0) {
    length = kTransferSizeUnknown;
  }
  return std::make_shared<const HTTPURLResponse>(
      describeResponse(*url, head_.statusCode(), head_.fields(), length));
}

template <typename Answer>
std::function<void(Answer)> TransferTask::answerOnce(void (TransferTask::*decided)(std::uint64_t,
                                                                                   Answer)) {
  auto once = std::make_shared<std::once_flag>();
  return [once, generation = generation_, weak = weak_from_this(), engine = context_->engine,
          decided](Answer answer) {
    std::call_once(*once, [&] {
      (void)engine->post([weak, generation, decided, answer = std::move(answer)] {
        if (auto self = weak.lock()) ((*self).*decided)(generation, answer);
      });
    });
  };
}

bool TransferTask::headersComplete() {
  checkOnNetworkThread("TransferTask::headersComplete");
  const int status = head_.statusCode();
  lastStatus_ = status;
  std::shared_ptr<const HTTPURLResponse> head = makeResponse();
  const auto location = head_.fields().value("Location");
  if (!isRedirectStatus(status) || !location) return finalResponse(head);

  URLRequest current;
  {
    UnfairLock::Locker locker(lock_);
    current = currentRequest_;
  }
  auto redirect = redirectedRequest(current, status, *location, metrics_.redirectCount);
  if (auto* refusal = std::get_if<TransferFailure>(&redirect)) {
    abort(std::move(*refusal));
    return false;
  }
  URLRequest next = std::get<URLRequest>(std::move(redirect));

  pendingRedirectHead_ = head;
  auto decide = answerOnce(&TransferTask::redirectDecided);
  // Without a delegate to ask, redirects are followed.
  events_.postDecision(
      [head, next, decide](URLSession& session, URLSessionDelegate& delegate, const TaskPtr& task) {
        delegate.willPerformHTTPRedirection(session, task, *head, next, decide);
      },
      [next, decide] { decide(next); });
  return true;
}

bool TransferTask::finalResponse(const std::shared_ptr<const HTTPURLResponse>& head) {
  if (kind_ == Kind::download) {
    URLRequest request;
    {
      UnfairLock::Locker locker(lock_);
      request = currentRequest_;
    }
    if (auto failure = file_.prepare(*head, request)) {
      abort(std::move(*failure));
      return false;
    }
  }
  {
    UnfairLock::Locker locker(lock_);
    response_ = head;
    if (kind_ == Kind::download) {
      const auto field = head->allHeaderFields.value("Content-Range");
      const auto range = field ? parseContentRange(*field) : std::nullopt;
      if (head->statusCode == 206 && range && range->total >= 0) {
        bytesExpected_ = range->total;
      } else {
        bytesExpected_ = head->expectedContentLength >= 0
                             ? file_.offset() + head->expectedContentLength
                             : kTransferSizeUnknown;
      }
    } else {
      bytesExpected_ = head->expectedContentLength;
    }
  }
  // Refused once the response is recorded, so its status still counts.
  if (bodyLimit_ && head->expectedContentLength > *bodyLimit_) {
    abort({URLError::dataLengthExceedsMaximum,
           "announced " + std::to_string(head->expectedContentLength) + " bytes"});
    return false;
  }
  if (kind_ == Kind::download) {
    if (resumeData_ && !resumeReported_) {
      resumeReported_ = true;
      const std::int64_t offset = file_.offset();
      const std::int64_t expected = countOfBytesExpectedToReceive();
      events_.post([offset, expected](URLSession& session, URLSessionDelegate& delegate,
                                      const TaskPtr& task) {
        delegate.didResumeAtOffset(session, task, offset, expected);
      });
    }
    gateOpen_ = true;
    return true;
  }
  if (!context_->responsesGated) {
    gateOpen_ = true;
    events_.post([head](URLSession& session, URLSessionDelegate& delegate, const TaskPtr& task) {
      delegate.didReceiveResponse(session, task, *head, [](ResponseDisposition) {});
    });
    return true;
  }
  // Data tasks wait for the delegate's verdict; the body callback pauses meanwhile.
  auto decide = answerOnce(&TransferTask::responseDecided);
  // Without a delegate to ask, responses are allowed.
  events_.postDecision(
      [head, decide](URLSession& session, URLSessionDelegate& delegate, const TaskPtr& task) {
        delegate.didReceiveResponse(session, task, *head, decide);
      },
      [decide] { decide(ResponseDisposition::allow); });
  return true;
}

std::size_t TransferTask::onBody(char* data, std::size_t size, std::size_t count, void* opaque) {
  auto* self = static_cast<TransferTask*>(opaque);
  if (!self->gateOpen_ || self->userPaused_) return CURL_WRITEFUNC_PAUSE;
  const std::size_t length = size * count;
  self->deadlines_.activity(Clock::now());
  if (self->bodyLimit_ &&
      self->countOfBytesReceived() + static_cast<std::int64_t>(length) > *self->bodyLimit_) {
    self->abort({URLError::dataLengthExceedsMaximum,
                 "more than " + std::to_string(*self->bodyLimit_) + " bytes"});
    return 0;
  }
  if (self->kind_ == Kind::download && !self->file_.write(data, length)) {
    self->abort(self->file_.failure(URLError::cannotWriteToFile, errno));
    return 0;
  }
  const auto now = Clock::now();
  UnfairLock::Locker locker(self->lock_);
  self->bytesReceived_ += static_cast<std::int64_t>(length);
  if (self->kind_ == Kind::download) {
    self->fileBytes_ = self->file_.size();
    self->pendingWritten_ += static_cast<std::int64_t>(length);
  } else {
    self->pendingData_.append(data, length);
  }
  // An event already queued takes these bytes along when it runs. Otherwise a new one is
  // posted at most once per pacing interval: a fast download arrives in thousands of pieces
  // a second, and an event for each would keep the delegate queue's thread (and every
  // queue after it) waking up for nothing a person could see.
  if (self->progressEventPending_) return length;
  if (now - self->lastProgressPost_ < kProgressInterval) {
    self->progressHeld_ = true;
    return length;
  }
  self->lastProgressPost_ = now;
  self->progressHeld_ = false;
  self->postCoalescedProgress();
  return length;
}

void TransferTask::flushHeldProgress(Clock::time_point now, bool force) {
  checkOnNetworkThread("TransferTask::flushHeldProgress");
  if (!progressHeld_ || (!force && now - lastProgressPost_ < kProgressInterval)) return;
  progressHeld_ = false;
  lastProgressPost_ = now;
  UnfairLock::Locker locker(lock_);
  postCoalescedProgress();
}

int TransferTask::onProgress(void* opaque, curl_off_t, curl_off_t downloaded, curl_off_t,
                             curl_off_t uploaded) {
  auto* self = static_cast<TransferTask*>(opaque);
  const auto now = Clock::now();
  self->flushHeldProgress(now);
  const curl_off_t moved = downloaded + uploaded;
  // Time spent suspended or waiting for the delegate is nobody's inactivity.
  if (self->userPaused_ || (self->head_.complete() && !self->gateOpen_)) {
    self->deadlines_.held(now, moved);
    return 0;
  }
  if (auto failure = self->deadlines_.check(now, downloaded, moved)) {
    self->abort(std::move(*failure));
    return 1;
  }
  return 0;
}

void TransferTask::redirectDecided(std::uint64_t generation, std::optional<URLRequest> request) {
  checkOnNetworkThread("TransferTask::redirectDecided");
  if (finished_ || generation != generation_ || !pendingRedirectHead_) return;
  auto head = std::exchange(pendingRedirectHead_, nullptr);
  if (request) {
    std::optional<URL> from;
    {
      UnfairLock::Locker locker(lock_);
      from = currentRequest_.url;
    }
    if (leavesOrigin(from, request->url)) crossedOrigin_ = true;
    stopTransfer();
    collectMetrics();
    ++metrics_.redirectCount;
    {
      UnfairLock::Locker locker(lock_);
      currentRequest_ = *request;
    }
    startAttempt(*request);
    return;
  }
  // Refused: the redirect response itself is the answer.
  if (!finalResponse(head)) {
    stopTransfer();
    collectMetrics();
    if (abort_) {
      finish(*abort_);
    } else {
      finish(std::nullopt);
    }
    return;
  }
  if (doneParked_ && gateOpen_) {
    collectMetrics();
    finish(std::nullopt);
  } else if (gateOpen_ && inMulti_ && !userPaused_) {
    // The redirect's body was held while the delegate decided; it is the answer now.
    curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
  }
}

void TransferTask::responseDecided(std::uint64_t generation, ResponseDisposition disposition) {
  checkOnNetworkThread("TransferTask::responseDecided");
  if (finished_ || generation != generation_) return;
  if (disposition == ResponseDisposition::cancel) {
    stopTransfer();
    collectMetrics();
    finish(URLError::cancelled);
    return;
  }
  gateOpen_ = true;
  if (doneParked_) {
    collectMetrics();
    finish(std::nullopt);
  } else if (inMulti_ && !userPaused_) {
    curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
  }
}

}  // namespace tolvane::platform
