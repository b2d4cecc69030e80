#pragma once

#include <string>
#include <string_view>

#include "Platform/FileDescriptor.h"

namespace tolvane::tools {

// A bare TCP connection to 127.0.0.1, for requests no HTTP client library would send:
// broken framing, pipelining, stalled heads. Receives wait at most 10 s per call.
class RawConnection {
 public:
  explicit RawConnection(int port);

  // False once the peer has closed or reset the connection.
  bool send(std::string_view bytes);
  // Everything until the peer closes (or 10 s of silence).
  std::string readToEnd();
  // Waits up to `milliseconds` for the peer to close; true when it did.
  bool closedWithin(int milliseconds);

 private:
  platform::FileDescriptor fd_;
};

// The status lines ("HTTP/1.1 200 OK") of the responses in `stream`.
int responseCount(std::string_view stream);

}  // namespace tolvane::tools
