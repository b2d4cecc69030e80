#include "UpdateServer/UpdateServer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <httplib.h>

#include "Platform/FileDescriptor.h"
#include "UpdateServer/ByteRange.h"
#include "UpdateServer/ToolError.h"

namespace tolvane::tools {

namespace fs = std::filesystem;
using platform::FileDescriptor;

namespace {

constexpr std::size_t kChunkSize = 1 << 16;
constexpr auto kStartTimeout = std::chrono::seconds(5);

std::string contentTypeFor(const fs::path& file) {
  const std::string extension = file.extension().string();
  if (extension == ".jar") {
    return "application/java-archive";
  }
  if (extension == ".json") {
    return "application/json";
  }
  return "application/octet-stream";
}

void answerStatus(httplib::Response& response, int status, const char* text) {
  response.status = status;
  response.set_content(std::string(text) + "\n", "text/plain");
}

void answerNotFound(httplib::Response& response) { answerStatus(response, 404, "Not Found"); }

// Sends `file` (or the part the request's Range header asks for) without loading it:
// the body is read from the open descriptor while it is written out.
void sendFile(const httplib::Request& request, httplib::Response& response, const fs::path& file,
              const std::string& contentType) {
  auto fd = std::make_shared<FileDescriptor>(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!*fd) {
    if (errno == EACCES) {
      answerStatus(response, 403, "Forbidden");
    } else {
      answerNotFound(response);
    }
    return;
  }
  struct stat status {};
  if (::fstat(fd->get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    answerNotFound(response);
    return;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  std::string rangeHeader;
  const bool hasRange = request.has_header("Range");
  if (hasRange) {
    rangeHeader = request.get_header_value("Range");
  }
  const ByteRange range =
      ByteRange::resolve(hasRange ? std::optional<std::string_view>(rangeHeader) : std::nullopt,
                         size);
  response.set_header("Accept-Ranges", "bytes");
  if (range.kind() == ByteRange::Kind::unsatisfiable) {
    response.status = 416;
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    return;
  }
  std::uint64_t offset = 0;
  std::uint64_t length = size;
  if (range.kind() == ByteRange::Kind::part) {
    offset = range.first();
    length = range.length();
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(range.first()) + "-" +
                                             std::to_string(range.last()) + "/" +
                                             std::to_string(size));
  } else {
    response.status = 200;
  }
  if (length == 0) {
    response.set_content("", contentType);
    return;
  }
  response.set_content_provider(
      length, contentType,
      [fd, offset](std::size_t at, std::size_t wanted, httplib::DataSink& sink) {
        std::array<char, kChunkSize> buffer{};
        const std::size_t chunk = std::min(wanted, buffer.size());
        ssize_t got = 0;
        do {
          got = ::pread(fd->get(), buffer.data(), chunk, static_cast<off_t>(offset + at));
        } while (got < 0 && errno == EINTR);
        // A file that shrank while being sent ends the connection: the client then sees a
        // short body rather than a complete-looking wrong one.
        return got > 0 && sink.write(buffer.data(), static_cast<std::size_t>(got));
      });
}

}  // namespace

UpdateServer::UpdateServer(Options options)
    : options_(std::move(options)), folder_(options_.root) {
  if (options_.tls) {
    for (const fs::path& file : {options_.tls->certificateFile, options_.tls->privateKeyFile}) {
      if (::access(file.c_str(), R_OK) != 0) {
        throw ToolError::failure("cannot read \"" + file.string() + "\": " +
                                 std::strerror(errno));
      }
    }
    server_ = std::make_unique<httplib::SSLServer>(options_.tls->certificateFile.c_str(),
                                                   options_.tls->privateKeyFile.c_str());
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  if (options_.tls && !server_->is_valid()) {
    throw ToolError::failure("the certificate \"" + options_.tls->certificateFile.string() +
                             "\" and key \"" + options_.tls->privateKeyFile.string() +
                             "\" cannot be used together");
  }

  // cpp-httplib's default also sets SO_REUSEPORT, which lets a second server bind a port
  // that is in use and silently take part of its connections. SO_REUSEADDR alone still
  // allows a quick restart on the same port.
  server_->set_socket_options([](int socket) {
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  });
  server_->Get(R"(/loaderv3\.php)", [this](const httplib::Request& request,
                                           httplib::Response& response) {
    serveManifest(request, response);
  });
  server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    serveFile(request, response);
  });
  if (options_.log != nullptr) {
    server_->set_logger([this](const httplib::Request& request,
                               const httplib::Response& response) {
      logRequest(request, response);
    });
  }
}

UpdateServer::~UpdateServer() { stop(); }

int UpdateServer::start() {
  const int bound = options_.port == 0 ? server_->bind_to_any_port(options_.address)
                                       : (server_->bind_to_port(options_.address, options_.port)
                                              ? options_.port
                                              : -1);
  if (bound <= 0) {
    throw ToolError::failure("cannot listen on " + options_.address + " port " +
                             std::to_string(options_.port));
  }
  port_ = bound;
  listener_ = std::thread([this] { server_->listen_after_bind(); });
  // The socket accepts connections from here on, but stop() only reaches a running
  // accept loop; wait for it so that a quick stop cannot leave the thread behind.
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (!server_->is_running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      throw ToolError::failure("the server did not start serving");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return port_;
}

void UpdateServer::stop() {
  if (listener_.joinable()) {
    server_->stop();
    listener_.join();
  }
}

std::string UpdateServer::origin() const {
  const bool ipv6 = options_.address.find(':') != std::string::npos;
  const std::string host = ipv6 ? "[" + options_.address + "]" : options_.address;
  return (options_.tls ? "https://" : "http://") + host + ":" + std::to_string(port_);
}

void UpdateServer::serveManifest(const httplib::Request& request,
                                 httplib::Response& response) const {
  // Whatever query the installer sends (it repeats os=macos), the answer is the same.
  const auto found = folder_.lookup("/" + std::string(ReleaseFolder::kManifestName));
  if (found.outcome != ReleaseFolder::Outcome::found) {
    answerNotFound(response);
    return;
  }
  // cpp-httplib 0.11 slices bodies by the request's ranges after the handler and gets
  // ranges past the end wrong; the request object it hands out is its own non-const one,
  // so clearing the parsed ranges leaves range handling to sendFile alone.
  const_cast<httplib::Request&>(request).ranges.clear();
  sendFile(request, response, found.file, "application/json");
}

void UpdateServer::serveFile(const httplib::Request& request, httplib::Response& response) const {
  const auto found = folder_.lookup(request.path);
  switch (found.outcome) {
    case ReleaseFolder::Outcome::refused:
      answerStatus(response, 400, "Bad Request");
      return;
    case ReleaseFolder::Outcome::missing:
      answerNotFound(response);
      return;
    case ReleaseFolder::Outcome::found:
      break;
  }
  const_cast<httplib::Request&>(request).ranges.clear();  // see serveManifest
  const std::string contentType = found.file.filename() == ReleaseFolder::kManifestName
                                      ? "application/json"
                                      : contentTypeFor(found.file);
  sendFile(request, response, found.file, contentType);
}

void UpdateServer::logRequest(const httplib::Request& request,
                              const httplib::Response& response) {
  const std::lock_guard lock(logMutex_);
  *options_.log << request.method << ' ' << request.target << ' ' << response.status << '\n'
                << std::flush;
}

}  // namespace tolvane::tools
