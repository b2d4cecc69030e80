#include "Platform/CurlMulti.h"

#include <pthread.h>

#include <atomic>

#include "Platform/Fatal.h"
#include "Platform/NetworkLibraries.h"
#include "Platform/OperatingSystem.h"

namespace tolvane::platform {

namespace {
// Engines told to stop whose thread has not finished releasing libcurl's (and OpenSSL's)
// state yet.
std::atomic<int> gWindingDown{0};
}  // namespace

bool CurlMulti::anyWindingDown() { return gWindingDown.load() > 0; }

std::shared_ptr<CurlMulti> CurlMulti::start(const std::string& name) {
  initialiseNetworkLibraries();
  auto engine = std::make_shared<CurlMulti>(Key{});
  // The thread holds the engine too, so shutdown from the network thread can detach.
  engine->thread_ = std::thread([engine, name]() mutable {
    os::nameCurrentThread(name);
    engine->loop();
    // The last reference may be this one: the share and the multi are released here.
    engine.reset();
    gWindingDown.fetch_sub(1);
  });
  engine->threadId_ = engine->thread_.get_id();
  return engine;
}

namespace {
// Like the desktop platform's default: more parallel connections to one host rarely help,
// and small servers drop connection attempts beyond their listen backlog.
constexpr long kMaximumConnectionsPerHost = 6;
}  // namespace

CurlMulti::CurlMulti(Key) : share_(curl_share_init()), multi_(curl_multi_init()) {
  curl_multi_setopt(multi_.get(), CURLMOPT_MAX_HOST_CONNECTIONS, kMaximumConnectionsPerHost);
  if (share_) {
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }
}

CurlMulti::~CurlMulti() {
  if (!multi_) return;
  for (auto& [easy, done] : transfers_) curl_multi_remove_handle(multi_.get(), easy);
}

bool CurlMulti::post(std::function<void()> command) {
  UnfairLock::Locker locker(lock_);
  if (stopping_) return false;
  commands_.push_back(std::move(command));
  if (polling_) {
    polling_ = false;  // one wake-up is enough for every command posted meanwhile
    curl_multi_wakeup(multi_.get());
  }
  return true;
}

void CurlMulti::shutdown() {
  {
    UnfairLock::Locker locker(lock_);
    if (stopping_) return;
    stopping_ = true;
    gWindingDown.fetch_add(1);
    curl_multi_wakeup(multi_.get());
  }
  if (!thread_.joinable()) return;
  if (onNetworkThread()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void CurlMulti::checkOnNetworkThread(const char* operation) const {
  if (!onNetworkThread()) fatalError(std::string(operation) + " must run on the network thread");
}

void CurlMulti::add(CURL* easy, DoneHandler done) {
  checkOnNetworkThread("CurlMulti::add");
  transfers_[easy] = std::move(done);
  curl_multi_add_handle(multi_.get(), easy);
}

void CurlMulti::remove(CURL* easy) {
  checkOnNetworkThread("CurlMulti::remove");
  if (transfers_.erase(easy) > 0) curl_multi_remove_handle(multi_.get(), easy);
}

CurlEasy CurlMulti::takeEasy() {
  checkOnNetworkThread("CurlMulti::takeEasy");
  if (spareEasy_.empty()) return CurlEasy(curl_easy_init());
  CurlEasy easy = std::move(spareEasy_.back());
  spareEasy_.pop_back();
  return easy;
}

void CurlMulti::recycle(CurlEasy easy) {
  checkOnNetworkThread("CurlMulti::recycle");
  // As many as the connections kept per host: enough for a session's usual parallelism.
  if (!easy || spareEasy_.size() >= static_cast<std::size_t>(kMaximumConnectionsPerHost)) return;
  // Every option goes back to its default, callbacks and their task pointers included.
  curl_easy_reset(easy.get());
  spareEasy_.push_back(std::move(easy));
}

void CurlMulti::loop() {
  std::vector<std::function<void()>> batch;
  for (;;) {
    {
      UnfairLock::Locker locker(lock_);
      if (stopping_) break;
      batch.swap(commands_);
    }
    for (auto& command : batch) command();
    batch.clear();

    int running = 0;
    curl_multi_perform(multi_.get(), &running);
    int queued = 0;
    bool finishedAny = false;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURL* easy = message->easy_handle;
      const CURLcode result = message->data.result;
      auto it = transfers_.find(easy);
      if (it == transfers_.end()) continue;
      DoneHandler done = std::move(it->second);
      transfers_.erase(it);
      curl_multi_remove_handle(multi_.get(), easy);
      done(result);
      finishedAny = true;
    }
    // A finished transfer frees a connection slot; transfers queued for it only move on
    // in the next perform, so do not sleep first.
    if (finishedAny) continue;
    {
      UnfairLock::Locker locker(lock_);
      // A command that came in during this turn runs before sleeping.
      if (!commands_.empty() || stopping_) continue;
      polling_ = true;
    }
    // Commands wake the poll through curl_multi_wakeup; the cap only bounds the wait. Each
    // perform gives every transfer a progress report, where its deadlines are checked: while
    // transfers run, wake often enough that a short time-out is noticed when it passes.
    curl_multi_poll(multi_.get(), nullptr, 0, transfers_.empty() ? 1000 : 100, nullptr);
    UnfairLock::Locker locker(lock_);
    polling_ = false;
  }
  // Handles still in the multi belong to tasks that are being dropped with the session.
  for (auto& [easy, done] : transfers_) curl_multi_remove_handle(multi_.get(), easy);
  transfers_.clear();
  spareEasy_.clear();
  // Commands capture tasks; release them here, on this thread, not in whoever drops us.
  std::vector<std::function<void()>> dropped;
  {
    UnfairLock::Locker locker(lock_);
    dropped.swap(commands_);
    // Closes the cached connections now, not whenever the last task lets go of us.
    multi_.reset();
  }
}

}  // namespace tolvane::platform
