#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include <wx/defs.h>

class WXDLLIMPEXP_FWD_NET wxTCPServer;

namespace tolvane {

// How a second launch reaches the instance that is already running, so that the player
// sees the installer they already have instead of nothing: a local (Unix) socket that only
// its user can use. The running instance listens; a second launch connects, asks it to come
// to the front and leaves. Main thread only: wx delivers the requests on the GUI loop.
class InstanceChannel {
 public:
  static constexpr const char* kSocketName = "tolvane-installer.sock";

  // Listens on `socket` until destroyed; `comeToFront` runs on the main thread for every
  // request. Whatever is at `socket` is replaced: only the holder of the single-instance
  // lock listens, so a socket found there was left by an instance that crashed. Nothing
  // when the socket cannot be made (a path too long for a socket address, a folder that
  // cannot be written); second launches then just leave.
  [[nodiscard]] static std::unique_ptr<InstanceChannel> listen(const std::filesystem::path& socket,
                                                               std::function<void()> comeToFront);
  // Asks the instance listening on `socket` to come to the front; false when none answered.
  [[nodiscard]] static bool askToComeToFront(const std::filesystem::path& socket);

  ~InstanceChannel();
  InstanceChannel(const InstanceChannel&) = delete;
  InstanceChannel& operator=(const InstanceChannel&) = delete;

 private:
  InstanceChannel() = default;

  // Connections outlive neither the channel nor its action: they hold it weakly.
  std::shared_ptr<std::function<void()>> comeToFront_;
  std::unique_ptr<wxTCPServer> server_;
};

}  // namespace tolvane
