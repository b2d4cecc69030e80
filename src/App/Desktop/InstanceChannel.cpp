#include "App/Desktop/InstanceChannel.h"

#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include <wx/ipc.h>

namespace tolvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTopic = "tolvane-installer";
constexpr const char* kComeToFront = "come-to-front";
// The running instance takes the single-instance lock a moment before it listens; a second
// launch in that moment tries again for a little while.
constexpr int kConnectAttempts = 10;
constexpr std::chrono::milliseconds kConnectPause{100};

class Connection final : public wxTCPConnection {
 public:
  explicit Connection(std::weak_ptr<std::function<void()>> comeToFront)
      : comeToFront_(std::move(comeToFront)) {}

  bool OnExecute(const wxString&, const void* data, size_t size, wxIPCFormat) override {
    std::string request(static_cast<const char*>(data), size);
    if (!request.empty() && request.back() == '\0') request.pop_back();
    const auto action = comeToFront_.lock();
    if (request != kComeToFront || !action) return false;
    (*action)();
    return true;
  }

 private:
  std::weak_ptr<std::function<void()>> comeToFront_;
};

class Server final : public wxTCPServer {
 public:
  explicit Server(std::weak_ptr<std::function<void()>> comeToFront)
      : comeToFront_(std::move(comeToFront)) {}

  wxConnectionBase* OnAcceptConnection(const wxString& topic) override {
    // wx deletes the connection when the other side hangs up.
    return topic == kTopic ? new Connection(comeToFront_) : nullptr;
  }

 private:
  std::weak_ptr<std::function<void()>> comeToFront_;
};

}  // namespace

std::unique_ptr<InstanceChannel> InstanceChannel::listen(const fs::path& socket,
                                                         std::function<void()> comeToFront) {
  std::error_code ignored;
  fs::remove(socket, ignored);
  std::unique_ptr<InstanceChannel> channel(new InstanceChannel());
  channel->comeToFront_ = std::make_shared<std::function<void()>>(std::move(comeToFront));
  auto server = std::make_unique<Server>(channel->comeToFront_);
  // A name with a "/" makes wx listen on a Unix socket at that path, not on a TCP port.
  if (!server->Create(wxString::FromUTF8(socket.string()))) return nullptr;
  channel->server_ = std::move(server);
  // Its folder is the user's own already; the socket itself is theirs alone too.
  fs::permissions(socket, fs::perms::owner_read | fs::perms::owner_write, ignored);
  return channel;
}

bool InstanceChannel::askToComeToFront(const fs::path& socket) {
  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kConnectPause);
    wxTCPClient client;
    std::unique_ptr<wxConnectionBase> connection(
        client.MakeConnection("localhost", wxString::FromUTF8(socket.string()), kTopic));
    if (!connection) continue;
    const bool answered = connection->Execute(kComeToFront);
    connection->Disconnect();
    return answered;
  }
  return false;
}

InstanceChannel::~InstanceChannel() {
  // Stop listening before the action goes, so no request finds it half torn down.
  server_.reset();
  comeToFront_.reset();
}

}  // namespace tolvane
