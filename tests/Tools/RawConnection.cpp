#include "RawConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <stdexcept>

namespace tolvane::tools {

namespace {
constexpr int kReceiveTimeoutMs = 10'000;
}

RawConnection::RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (!fd_ || ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
}

bool RawConnection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

std::string RawConnection::readToEnd() {
  std::string received;
  std::array<char, 1 << 16> buffer{};
  pollfd ready{fd_.get(), POLLIN, 0};
  while (::poll(&ready, 1, kReceiveTimeoutMs) > 0) {
    const ssize_t got = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
    if (got <= 0) {
      break;
    }
    received.append(buffer.data(), static_cast<std::size_t>(got));
  }
  return received;
}

bool RawConnection::closedWithin(int milliseconds) {
  std::array<char, 4096> buffer{};
  pollfd ready{fd_.get(), POLLIN, 0};
  while (::poll(&ready, 1, milliseconds) > 0) {
    const ssize_t got = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
    if (got <= 0) {
      return true;
    }
  }
  return false;
}

int responseCount(std::string_view stream) {
  int count = 0;
  for (std::size_t at = stream.find("HTTP/1.1 "); at != std::string_view::npos;
       at = stream.find("HTTP/1.1 ", at + 1)) {
    count += at == 0 || stream[at - 1] == '\n' ? 1 : 0;
  }
  return count;
}

}  // namespace tolvane::tools
