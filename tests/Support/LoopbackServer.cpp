#include "Support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "Platform/NetworkLibraries.h"

namespace tolvane::test {

namespace {
// Sessions dropped by the last tests may still be winding their network threads down when
// the tests are over: they get a moment to finish before the program ends (at once, with
// _Exit; see TestMain.cpp). OpenSSL is initialised without exit handlers, which it decides
// on its first use, so this happens before any test certificate is made.
class NetworkThreadsWindDown final : public ::testing::Environment {
 public:
  void SetUp() override { platform::initialiseNetworkLibraries(); }
  void TearDown() override { platform::waitForNetworkThreadsToWindDown(std::chrono::seconds(5)); }
};
[[maybe_unused]] const auto* const kNetworkThreadsWindDown =
    ::testing::AddGlobalTestEnvironment(new NetworkThreadsWindDown);

std::string readRange(const std::filesystem::path& path, std::uint64_t offset, std::size_t length) {
  std::ifstream in(path, std::ios::binary);
  std::string buffer(length, '\0');
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(buffer.data(), static_cast<std::streamsize>(length));
  buffer.resize(static_cast<std::size_t>(in.gcount()));
  return buffer;
}
}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return std::nullopt;
}

std::string patternBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

LoopbackServer::LoopbackServer() : LoopbackServer(Options{}) {}

LoopbackServer::LoopbackServer(Options options) : options_(std::move(options)) {
  if (options_.https) {
    const auto pair = options_.certificate.value_or(TestCertificate::shared().loopback());
    server_ =
        std::make_unique<httplib::SSLServer>(pair.certificate.c_str(), pair.privateKey.c_str());
    if (!server_->is_valid()) throw std::runtime_error("loopback server: certificate not usable");
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  // Each open connection holds a server thread while it is kept alive; leave room for
  // tests that run many clients at once.
  server_->new_task_queue = [] { return new httplib::ThreadPool(32); };
  if (options_.resetConnections) {
    server_->set_socket_options([](socket_t socket) {
      int yes = 1;
      ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
      linger abortive{1, 0};  // accepted connections inherit it
      ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    });
  }
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    RecordedRequest record{request.method, request.path, {}, {}, request.body};
    if (const auto question = request.target.find('?'); question != std::string::npos) {
      record.query = request.target.substr(question + 1);
    }
    for (const auto& [name, value] : request.headers) record.headers.emplace_back(name, value);
    std::lock_guard guard(mutex_);
    requests_.push_back(std::move(record));
    return httplib::Server::HandlerResponse::Unhandled;
  });
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::start() {
  if (started_) return;
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("loopback server: cannot bind");
  // bind_to_any_port already listens, so connections queue until the loop below runs.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // The library's stop() does nothing before its loop runs; a stop in that gap would leave
  // the loop blocked in accept() for ever.
  for (int i = 0; !server_->is_running(); ++i) {
    if (i == 5000) throw std::runtime_error("loopback server: did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  started_ = true;
}

void LoopbackServer::stop() {
  {
    std::lock_guard guard(mutex_);
    stopRequested_ = true;
  }
  stopping_.notify_all();
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
  // Destroying the server joins its worker threads; handlers notice stopRequested_.
  server_.reset();
}

int LoopbackServer::port() {
  start();
  return port_;
}

std::string LoopbackServer::url(const std::string& pathAndQuery) {
  return std::string(options_.https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) +
         pathAndQuery;
}

// Registered under the lock the pre-routing handler takes, so a request that arrives after
// a registration sees the new handler (the server threads would otherwise read the route
// table with no ordering against this thread's write).
void LoopbackServer::get(const std::string& pattern, Handler handler) {
  std::lock_guard guard(mutex_);
  server_->Get(pattern, std::move(handler));
}

void LoopbackServer::post(const std::string& pattern, Handler handler) {
  std::lock_guard guard(mutex_);
  server_->Post(pattern, std::move(handler));
}

bool LoopbackServer::pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !stopping_.wait_for(lock, duration, [&] { return stopRequested_; });
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
  std::lock_guard guard(mutex_);
  return requests_;
}

std::size_t LoopbackServer::requestCount() const {
  std::lock_guard guard(mutex_);
  return requests_.size();
}

void LoopbackServer::serveBody(const std::string& pattern, std::string body,
                               std::string contentType,
                               std::vector<std::pair<std::string, std::string>> headers) {
  get(pattern,
      [body = std::move(body), contentType = std::move(contentType), headers = std::move(headers)](
          const httplib::Request&, httplib::Response& response) {
        for (const auto& [name, value] : headers) response.set_header(name, value);
        response.set_content(body, contentType);
      });
}

void LoopbackServer::serveFile(const std::string& pattern, std::filesystem::path file,
                               std::string entityTag, std::chrono::milliseconds chunkInterval) {
  get(pattern, [this, file = std::move(file), entityTag = std::move(entityTag), chunkInterval](
                   const httplib::Request& request, httplib::Response& response) {
    // The library would apply Range on its own, also where If-Range says the whole
    // entity must be sent; ranges are handled here instead.
    const_cast<httplib::Request&>(request).ranges.clear();
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(file, error);
    if (error) {
      response.status = 404;
      return;
    }
    std::uint64_t first = 0;
    std::uint64_t last = size == 0 ? 0 : size - 1;
    bool partial = false;
    const std::string range = request.get_header_value("Range");
    const bool validatorMatches =
        !request.has_header("If-Range") || request.get_header_value("If-Range") == entityTag;
    if (range.rfind("bytes=", 0) == 0 && validatorMatches) {
      char* end = nullptr;
      first = std::strtoull(range.c_str() + 6, &end, 10);
      if (*end == '-' && end[1] != '\0')
        last = std::min<std::uint64_t>(last, std::strtoull(end + 1, nullptr, 10));
      if (first >= size) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
      }
      partial = true;
    }
    response.status = partial ? 206 : 200;
    response.set_header("ETag", entityTag);
    response.set_header("Accept-Ranges", "bytes");
    if (partial) {
      response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                               std::to_string(last) + "/" + std::to_string(size));
    }
    const std::uint64_t length = size == 0 ? 0 : last - first + 1;
    response.set_content_provider(
        length, "application/octet-stream",
        [this, file, first, chunkInterval](std::size_t offset, std::size_t available,
                                           httplib::DataSink& sink) {
          if (chunkInterval.count() > 0 && offset > 0 && !pause(chunkInterval)) return false;
          const std::size_t chunkSize = chunkInterval.count() > 0 ? 64 * 1024 : 256 * 1024;
          const std::string chunk = readRange(file, first + offset, std::min(available, chunkSize));
          return !chunk.empty() && sink.write(chunk.data(), chunk.size());
        });
  });
}

void LoopbackServer::delayHeaders(const std::string& pattern, std::chrono::milliseconds delay,
                                  std::string body) {
  get(pattern,
      [this, delay, body = std::move(body)](const httplib::Request&, httplib::Response& response) {
        pause(delay);
        response.set_content(body, "application/octet-stream");
      });
}

void LoopbackServer::dripFeed(const std::string& pattern, std::size_t totalBytes,
                              std::size_t chunkBytes, std::chrono::milliseconds interval) {
  get(pattern, [this, totalBytes, chunkBytes, interval](const httplib::Request&,
                                                        httplib::Response& response) {
    response.set_content_provider(totalBytes, "application/octet-stream",
                                  [this, totalBytes, chunkBytes, interval](
                                      std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                    if (offset > 0 && !pause(interval)) return false;
                                    const std::string chunk =
                                        patternBytes(totalBytes).substr(offset, chunkBytes);
                                    return sink.write(chunk.data(), chunk.size());
                                  });
  });
}

void LoopbackServer::shortBody(const std::string& pattern, std::size_t announcedBytes,
                               std::string body,
                               std::vector<std::pair<std::string, std::string>> headers) {
  get(pattern, [this, announcedBytes, body = std::move(body), headers = std::move(headers)](
                   const httplib::Request&, httplib::Response& response) {
    for (const auto& [name, value] : headers) response.set_header(name, value);
    response.set_content_provider(
        announcedBytes, "application/octet-stream",
        [this, body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
          if (offset == 0) {
            sink.write(body.data(), body.size());
            // A reset throws away what the peer has not read yet: let the bytes leave first.
            // A plain close delivers them before its end of stream anyway.
            if (options_.resetConnections) pause(std::chrono::milliseconds(100));
          }
          return false;
        });
  });
}

void LoopbackServer::servePieces(const std::string& pattern, std::size_t totalBytes, bool announced,
                                 std::size_t pieceBytes,
                                 std::shared_ptr<std::atomic<std::size_t>> sent) {
  get(pattern, [totalBytes, announced, pieceBytes, sent](const httplib::Request&,
                                                         httplib::Response& response) {
    // Made per request, so registering many large routes costs nothing up front.
    auto body = std::make_shared<const std::string>(patternBytes(totalBytes));
    auto piece = [body, pieceBytes, sent](std::size_t offset, httplib::DataSink& sink) {
      if (offset >= body->size()) {
        sink.done();
        return true;
      }
      const std::size_t length = std::min(pieceBytes, body->size() - offset);
      if (!sink.write(body->data() + offset, length)) return false;
      if (sent) *sent += length;
      return true;
    };
    if (announced) {
      response.set_content_provider(
          totalBytes, "application/octet-stream",
          [piece](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            return piece(offset, sink);
          });
    } else {
      response.set_chunked_content_provider("application/octet-stream", piece);
    }
  });
}

int LoopbackServer::refusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);  // bound but never listening: connections to it are refused
  if (!ok) throw std::runtime_error("bind");
  return ntohs(address.sin_port);
}

}  // namespace tolvane::test
