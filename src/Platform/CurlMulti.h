#pragma once

#include <curl/curl.h>

#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "Platform/UnfairLock.h"

namespace tolvane::platform {

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// The network thread of one transport session: runs libcurl's multi interface and the
// commands other threads hand it. Everything about a transfer (its easy handle, libcurl's
// callbacks, completion) happens on this thread; other threads only call post().
class CurlMulti : public std::enable_shared_from_this<CurlMulti> {
 public:
  // Told on the network thread that an easy handle's transfer ended (it has already been
  // taken out of the multi handle).
  using DoneHandler = std::function<void(CURLcode)>;

  [[nodiscard]] static std::shared_ptr<CurlMulti> start(const std::string& name);
  ~CurlMulti();

  // Runs `command` on the network thread, in the order posted. After shutdown the command
  // is dropped and the answer is false.
  [[nodiscard]] bool post(std::function<void()> command);
  // Stops the thread: transfers still running are dropped without a word. Joins unless
  // called on the network thread itself (then the thread ends on its own).
  void shutdown();

  // Whether some engine has been told to stop and its thread is still releasing libcurl's
  // state. A process that returns from main (rather than ending at once) waits for this
  // before its exit handlers tear OpenSSL down underneath that thread.
  [[nodiscard]] static bool anyWindingDown();

  // Network thread only (each stops the process when called elsewhere).
  void add(CURL* easy, DoneHandler done);
  void remove(CURL* easy);
  // An easy handle for a new transfer: a spare one, reset, when there is one. Creating a
  // handle costs several times what resetting one does (its buffers are allocated afresh).
  [[nodiscard]] CurlEasy takeEasy();
  // Takes back the handle of a transfer that is over (no longer in the multi handle).
  void recycle(CurlEasy easy);
  [[nodiscard]] bool onNetworkThread() const { return std::this_thread::get_id() == threadId_; }
  // Stops the process, naming `operation`, unless called on the network thread: what runs
  // there touches libcurl's handles and state that nothing else may.
  void checkOnNetworkThread(const char* operation) const;
  // TLS sessions and DNS answers shared by every transfer of this engine, so a new
  // connection to a known server resumes its TLS session instead of a full handshake.
  // Used only on the network thread, hence without lock callbacks.
  [[nodiscard]] CURLSH* share() const { return share_.get(); }

  CurlMulti(const CurlMulti&) = delete;
  CurlMulti& operator=(const CurlMulti&) = delete;

 private:
  struct Key {};

 public:
  explicit CurlMulti(Key);

 private:
  void loop();

  struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
  };
  struct ShareDeleter {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
  };
  // Declared before multi_: easy handles leave the share only after the multi is gone.
  std::unique_ptr<CURLSH, ShareDeleter> share_;
  std::unique_ptr<CURLM, MultiDeleter> multi_;
  std::thread thread_;
  std::thread::id threadId_;

  // Also held while multi_ is released at the end, so post() never wakes a freed handle.
  UnfairLock lock_;
  std::vector<std::function<void()>> commands_ TOLVANE_GUARDED_BY(lock_);
  bool stopping_ TOLVANE_GUARDED_BY(lock_) = false;
  // The loop is in (or about to enter) curl_multi_poll: only then does a command need to
  // wake it; a busy loop picks commands up on its next turn without a system call.
  bool polling_ TOLVANE_GUARDED_BY(lock_) = false;

  // Network thread only.
  std::map<CURL*, DoneHandler> transfers_;
  // After share_: spare handles are attached to the share, which cannot go before them.
  std::vector<CurlEasy> spareEasy_;
};

}  // namespace tolvane::platform
