#include "UpdateServer/UpdateServer.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "Platform/FileDescriptor.h"
#include "Platform/OperatingSystem.h"
#include "UpdateServer/ByteRange.h"
#include "UpdateServer/MhdAnswer.h"
#include "UpdateServer/ToolError.h"
#include "UpdateServer/Validators.h"

namespace tolvane::tools {

namespace fs = std::filesystem;
using platform::FileDescriptor;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::string_view kAllowedMethods = "GET, HEAD";
// Bodies are read and dropped; past this much the connection is not worth keeping.
constexpr std::size_t kLargestDroppedBody = 64 * 1024;

std::string contentTypeFor(const fs::path& file) {
  if (file.filename() == ReleaseFolder::kManifestName || file.extension() == ".json") {
    return "application/json";
  }
  if (file.extension() == ".jar") {
    return "application/java-archive";
  }
  return "application/octet-stream";
}

std::string readWholeFile(const fs::path& file) {
  if (::access(file.c_str(), R_OK) != 0) {
    throw ToolError::failure("cannot read \"" + file.string() + "\": " + std::strerror(errno));
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Request targets come from the network: control bytes and anything outside ASCII would
// reach the operator's terminal raw, so they are written as \xHH.
std::string escapedForLog(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || c == '\\') {
      std::array<char, 5> hex{};
      std::snprintf(hex.data(), hex.size(), "\\x%02X", byte);
      escaped += hex.data();
    } else {
      escaped += c;
    }
  }
  return escaped;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path of a request target, percent-decoded. A "%00" survives as a NUL byte, which
// the folder lookup refuses; a broken escape stays as written.
std::string decodedPath(std::string_view target) {
  target = target.substr(0, target.find('?'));
  std::string path;
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size() && hexValue(target[i + 1]) >= 0 &&
        hexValue(target[i + 2]) >= 0) {
      path += static_cast<char>(hexValue(target[i + 1]) * 16 + hexValue(target[i + 2]));
      i += 2;
    } else {
      path += target[i];
    }
  }
  return path;
}

// libmicrohttpd hands the target over as a C string, so a raw NUL byte in it cuts it
// short: "/a.jar\0/../../etc/passwd" would be served as "/a.jar". The request line in the
// library's read buffer still holds the rest, up to the version string, and the handler is
// given pointers into that line (0.9.75, as Debian 12 ships it). The whole target when the
// part `seen` stops at such a NUL; bytes of a query after the NUL may read as NULs too,
// since the library splits the query in place.
std::optional<std::string> targetCutAtNul(const char* url, const char* version,
                                          const std::string& seen, std::size_t bound) {
  const auto begin = reinterpret_cast<std::uintptr_t>(url);
  const auto end = reinterpret_cast<std::uintptr_t>(version);
  if (url == nullptr || version == nullptr || end <= begin + seen.size() + 1 ||
      end - begin > bound) {
    return std::nullopt;
  }
  return seen + std::string(url + seen.size(), end - begin - 1 - seen.size());
}

}  // namespace

// One client connection, on libmicrohttpd's thread; what the watchdog needs of it is in
// watched_.
struct UpdateServer::Connection {
  std::string target;     // raw request target of the current request
  bool handled = false;   // the head reached the handler
  bool answered = false;  // a response is queued
  std::size_t discarded = 0;
};

// libmicrohttpd's C callbacks; `cls` is always the UpdateServer.
struct UpdateServer::Callbacks {
  static void notifyConnection(void* cls, MHD_Connection* connection, void** socketContext,
                               MHD_ConnectionNotificationCode code) {
    auto& server = *static_cast<UpdateServer*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto state = std::make_unique<Connection>();
      const Watch watch{
          .fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd,
          .awaitingRequest = true,
          .requestDeadline = Clock::now() + server.options_.limits.request};
      platform::UnfairLock::Locker locker(server.connectionsLock_);
      server.watched_.emplace(state.get(), watch);
      *socketContext = state.release();
      return;
    }
    std::unique_ptr<Connection> state(static_cast<Connection*>(*socketContext));
    if (!state) {
      return;
    }
    logIfRefusedByLibrary(server, connection, *state);
    // libmicrohttpd reports the close before it closes the socket, so the watchdog can
    // never shut down a reused descriptor.
    platform::UnfairLock::Locker locker(server.connectionsLock_);
    server.watched_.erase(state.get());
  }

  // A request libmicrohttpd answered itself (a head too large, broken syntax) never
  // reaches the handler; its method is not known by then.
  static void logIfRefusedByLibrary(UpdateServer& server, MHD_Connection* connection,
                                    Connection& state) {
    if (state.target.empty() || state.handled) {
      return;
    }
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
    const unsigned status = info == nullptr ? 0 : info->http_status;
    server.logRequestLine("-", state.target, status == 0 ? "refused" : std::to_string(status));
    state.target.clear();
  }

  static void* requestStarted(void* cls, const char* uri, MHD_Connection* connection) {
    auto* state = static_cast<Connection*>(
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
    (void)cls;
    if (state != nullptr) {
      state->target = uri == nullptr ? "" : uri;
      state->handled = false;
      state->answered = false;
    }
    return state;
  }

  static void requestCompleted(void* cls, MHD_Connection* connection, void** requestContext,
                               MHD_RequestTerminationCode) {
    auto& server = *static_cast<UpdateServer*>(cls);
    auto* state = static_cast<Connection*>(*requestContext);
    if (state == nullptr) {
      return;
    }
    logIfRefusedByLibrary(server, connection, *state);
    state->target.clear();
    // A kept-alive connection has the same time again to send its next request.
    platform::UnfairLock::Locker locker(server.connectionsLock_);
    Watch& watch = server.watched_.at(state);
    watch.awaitingRequest = true;
    watch.requestDeadline = Clock::now() + server.options_.limits.request;
  }

  // Called once the head is in, again for each piece of a body, and a last time when
  // the request is complete. Answers go out on the last call: a response queued earlier
  // makes libmicrohttpd close the connection, which is right only for refusals.
  static MHD_Result handleRequest(void* cls, MHD_Connection* connection, const char* url,
                                  const char* method, const char* version, const char*,
                                  std::size_t* uploadSize, void** requestContext) {
    auto& server = *static_cast<UpdateServer*>(cls);
    auto* state = static_cast<Connection*>(*requestContext);
    if (state == nullptr || state->answered) {
      *uploadSize = 0;
      return MHD_YES;
    }
    if (!state->handled) {
      state->handled = true;
      state->discarded = 0;
      if (std::optional<Answer> refusal =
              refusalOfHead(server, connection, url, method, version, *state)) {
        return queue(server, connection, method, *state, std::move(*refusal));
      }
      return MHD_YES;
    }
    if (*uploadSize != 0) {
      // A body is read and dropped, so that it can never pass for the next request.
      state->discarded += *uploadSize;
      *uploadSize = 0;
      return MHD_YES;
    }
    if (state->discarded > kLargestDroppedBody) {
      // Only a chunked body gets here: it declares no length to refuse it by up front,
      // and libmicrohttpd takes no answer while a body comes in, so it was read to its
      // end (within the request's deadline).
      Answer tooLarge = textAnswer(MHD_HTTP_CONTENT_TOO_LARGE, "Content Too Large");
      MHD_add_response_header(tooLarge.response.get(), MHD_HTTP_HEADER_CONNECTION, "close");
      return queue(server, connection, method, *state, std::move(tooLarge));
    }
    return queue(server, connection, method, *state, answer(server, connection, state->target));
  }

  static MHD_Result queue(UpdateServer& server, MHD_Connection* connection, std::string_view method,
                          Connection& state, Answer answer) {
    state.answered = true;
    {
      platform::UnfairLock::Locker locker(server.connectionsLock_);
      server.watched_.at(&state).awaitingRequest = false;
    }
    server.logRequestLine(method, state.target, std::to_string(answer.status));
    return MHD_queue_response(connection, answer.status, answer.response.get());
  }

  // Refusals decided by the head alone, queued before any body is read: libmicrohttpd
  // then closes the connection once they are sent.
  static std::optional<Answer> refusalOfHead(const UpdateServer& server, MHD_Connection* connection,
                                             const char* url, std::string_view method,
                                             const char* version, Connection& state);
  static Answer answer(const UpdateServer& server, MHD_Connection* connection,
                       const std::string& target);
  static Answer answerFile(const UpdateServer& server, MHD_Connection* connection,
                           const fs::path& file);
  static bool descriptorIsInside(const UpdateServer& server, int fd, const fs::path& openedAs);

  static std::size_t keepEscaped(void*, MHD_Connection*, char* text) {
    // Decoding is done on the raw target, where "%00" and "%2F" keep their meaning.
    return std::strlen(text);
  }

  static void libraryMessage(void* cls, const char* format, va_list arguments) {
    auto& server = *static_cast<UpdateServer*>(cls);
    std::array<char, 512> text{};
    std::vsnprintf(text.data(), text.size(), format, arguments);
    std::string message = text.data();
    while (!message.empty() && message.back() == '\n') {
      message.pop_back();
    }
    platform::UnfairLock::Locker locker(server.logLock_);
    if (!server.running_) {
      server.startErrors_ += (server.startErrors_.empty() ? "" : "; ") + message;
    } else if (server.options_.log != nullptr) {
      *server.options_.log << "server: " << escapedForLog(message) << '\n' << std::flush;
    }
  }
};

UpdateServer::UpdateServer(Options options) : options_(std::move(options)), folder_(options_.root) {
  std::error_code error;
  if (!fs::is_directory(options_.root, error)) {
    throw ToolError::failure("the release folder \"" + options_.root.string() +
                             "\" does not exist or is not a folder");
  }
  if (options_.tls) {
    certificatePem_ = readWholeFile(options_.tls->certificateFile);
    privateKeyPem_ = readWholeFile(options_.tls->privateKeyFile);
  }
}

UpdateServer::~UpdateServer() { stop(); }

int UpdateServer::start() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options_.port);
  if (options_.address.empty() ||
      ::getaddrinfo(options_.address.c_str(), port.c_str(), &hints, &found) != 0) {
    throw ToolError::failure("cannot listen on \"" + options_.address + "\": not an address");
  }
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(found, ::freeaddrinfo);

  unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_ERROR_LOG;
  if (found->ai_family == AF_INET6) {
    flags |= MHD_USE_IPv6;
  }
  if (options_.tls) {
    flags |= MHD_USE_TLS;
  }
  const Limits& limits = options_.limits;
  std::vector<MHD_OptionItem> items = {
      // First, so that no message goes to libmicrohttpd's own stderr logger.
      {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&Callbacks::libraryMessage), this},
      {MHD_OPTION_SOCK_ADDR, 0, found->ai_addr},
      {MHD_OPTION_CONNECTION_LIMIT, limits.connections, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, limits.idleSeconds, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits.connectionMemory), nullptr},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Callbacks::notifyConnection),
       this},
      {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&Callbacks::requestStarted), this},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Callbacks::requestCompleted), this},
      {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&Callbacks::keepEscaped), this},
  };
  if (options_.tls) {
    items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, certificatePem_.data()});
    items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, privateKeyPem_.data()});
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});

  MHD_Daemon* daemon = MHD_start_daemon(flags, static_cast<std::uint16_t>(options_.port), nullptr,
                                        nullptr, &Callbacks::handleRequest, this, MHD_OPTION_ARRAY,
                                        items.data(), MHD_OPTION_END);
  if (daemon == nullptr) {
    platform::UnfairLock::Locker locker(logLock_);
    throw ToolError::failure("cannot serve on " + options_.address + " port " + port +
                             (startErrors_.empty() ? "" : ": " + startErrors_));
  }
  daemon_ = daemon;
  {
    platform::UnfairLock::Locker locker(logLock_);
    running_ = true;
  }
  port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
  {
    platform::UnfairLock::Locker locker(connectionsLock_);
    stopping_ = false;
  }
  watchdog_ = std::thread([this] { watchRequests(); });
  return port_;
}

void UpdateServer::stop() {
  if (daemon_ == nullptr) {
    return;
  }
  {
    platform::UnfairLock::Locker locker(connectionsLock_);
    stopping_ = true;
  }
  watchdogWake_.notify_all();
  watchdog_.join();
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  platform::UnfairLock::Locker locker(logLock_);
  running_ = false;
}

std::string UpdateServer::origin() const {
  const bool ipv6 = options_.address.find(':') != std::string::npos;
  const std::string host = ipv6 ? "[" + options_.address + "]" : options_.address;
  return (options_.tls ? "https://" : "http://") + host + ":" + std::to_string(port_);
}

void UpdateServer::watchRequests() {
  const auto tick = std::clamp<std::chrono::milliseconds>(
      options_.limits.request / 4, std::chrono::milliseconds(5), std::chrono::milliseconds(1000));
  platform::UnfairLock::Locker locker(connectionsLock_);
  while (!stopping_) {
    connectionsLock_.waitUntil(watchdogWake_, Clock::now() + tick);
    const auto now = Clock::now();
    for (auto& [connection, watch] : watched_) {
      if (watch.awaitingRequest && watch.requestDeadline < now) {
        // The event loop sees the end of the stream and closes the connection itself.
        ::shutdown(watch.fd, SHUT_RDWR);
        watch.awaitingRequest = false;
      }
    }
  }
}

void UpdateServer::logRequestLine(std::string_view method, std::string_view target,
                                  std::string_view outcome) {
  if (options_.log == nullptr) {
    return;
  }
  platform::UnfairLock::Locker locker(logLock_);
  *options_.log << escapedForLog(method) << ' ' << escapedForLog(target) << ' ' << outcome << '\n'
                << std::flush;
}

std::optional<Answer> UpdateServer::Callbacks::refusalOfHead(
    const UpdateServer& server, MHD_Connection* connection, const char* url,
    std::string_view method, const char* version, Connection& state) {
  if (std::optional<std::string> whole =
          targetCutAtNul(url, version, state.target, server.options_.limits.connectionMemory)) {
    state.target = std::move(*whole);
    return textAnswer(MHD_HTTP_BAD_REQUEST, "Bad Request");
  }
  if (method != MHD_HTTP_METHOD_GET && method != MHD_HTTP_METHOD_HEAD) {
    Answer refused = textAnswer(MHD_HTTP_METHOD_NOT_ALLOWED, "Method Not Allowed");
    MHD_add_response_header(refused.response.get(), MHD_HTTP_HEADER_ALLOW,
                            std::string(kAllowedMethods).c_str());
    return refused;
  }
  if (static_cast<std::size_t>(MHD_get_connection_values(
          connection, MHD_HEADER_KIND, nullptr, nullptr)) > server.options_.limits.headerCount) {
    return textAnswer(MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "Request Header Fields Too Large");
  }
  // The authority a request is for, which HTTP/1.1 must name exactly once; two could be
  // read differently by a proxy in front.
  const std::size_t hosts = headerValues(connection, MHD_HTTP_HEADER_HOST).size();
  if (hosts > 1 || (hosts == 0 && std::string_view(version) != MHD_HTTP_VERSION_1_0)) {
    return textAnswer(MHD_HTTP_BAD_REQUEST, "Bad Request");
  }
  if (const std::optional<unsigned> status = framingRefusal(connection, kLargestDroppedBody)) {
    switch (*status) {
      case MHD_HTTP_CONTENT_TOO_LARGE:
        return textAnswer(*status, "Content Too Large");
      case MHD_HTTP_NOT_IMPLEMENTED:
        return textAnswer(*status, "Not Implemented");
      default:
        return textAnswer(MHD_HTTP_BAD_REQUEST, "Bad Request");
    }
  }
  return std::nullopt;
}

Answer UpdateServer::Callbacks::answer(const UpdateServer& server, MHD_Connection* connection,
                                       const std::string& target) {
  const std::string path = decodedPath(target);
  // Whatever query the installer sends (it repeats os=macos), the answer is the same.
  const auto found = server.folder_.lookup(path);
  switch (found.outcome) {
    case ReleaseFolder::Outcome::refused:
      return textAnswer(MHD_HTTP_BAD_REQUEST, "Bad Request");
    case ReleaseFolder::Outcome::missing:
      return textAnswer(MHD_HTTP_NOT_FOUND, "Not Found");
    case ReleaseFolder::Outcome::found:
      break;
  }
  return answerFile(server, connection, found.file);
}

Answer UpdateServer::Callbacks::answerFile(const UpdateServer& server, MHD_Connection* connection,
                                           const fs::path& file) {
  if (server.options_.beforeOpen) {
    server.options_.beforeOpen();
  }
  // Non-blocking, so that a FIFO swapped in after the lookup cannot stall the event loop.
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) {
    return errno == EACCES ? textAnswer(MHD_HTTP_FORBIDDEN, "Forbidden")
                           : textAnswer(MHD_HTTP_NOT_FOUND, "Not Found");
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return textAnswer(MHD_HTTP_NOT_FOUND, "Not Found");
  }
  // The lookup checked a name; a folder swapped for a symbolic link since then would make
  // the same name open a file outside. What is served is what the descriptor really is.
  if (!descriptorIsInside(server, fd.get(), file)) {
    return textAnswer(MHD_HTTP_BAD_REQUEST, "Bad Request");
  }

  const Validators validators(status);
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const auto addValidators = [&](MHD_Response* response) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, validators.etag.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED,
                            validators.lastModified.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
  };

  if (const auto ifNoneMatch = header(connection, MHD_HTTP_HEADER_IF_NONE_MATCH);
      ifNoneMatch && validators.matchesAny(*ifNoneMatch)) {
    Answer notModified{MHD_HTTP_NOT_MODIFIED, emptyResponse()};
    addValidators(notModified.response.get());
    return notModified;
  }

  // Two Range fields make no valid range; the whole file is always a valid answer.
  std::vector<std::string> ranges = headerValues(connection, MHD_HTTP_HEADER_RANGE);
  std::optional<std::string> rangeHeader;
  if (ranges.size() == 1) {
    rangeHeader = std::move(ranges.front());
  }
  if (const auto ifRange = header(connection, MHD_HTTP_HEADER_IF_RANGE);
      rangeHeader && ifRange && !validators.matchesForRange(*ifRange)) {
    // The client holds part of another version: splicing would corrupt its copy.
    rangeHeader.reset();
  }
  const ByteRange range = ByteRange::resolve(
      rangeHeader ? std::optional<std::string_view>(*rangeHeader) : std::nullopt, size);
  if (range.kind() == ByteRange::Kind::unsatisfiable) {
    Answer unsatisfiable{MHD_HTTP_RANGE_NOT_SATISFIABLE, emptyResponse()};
    addValidators(unsatisfiable.response.get());
    MHD_add_response_header(unsatisfiable.response.get(), MHD_HTTP_HEADER_CONTENT_RANGE,
                            ("bytes */" + std::to_string(size)).c_str());
    return unsatisfiable;
  }
  const bool partial = range.kind() == ByteRange::Kind::part;
  const std::uint64_t offset = partial ? range.first() : 0;
  const std::uint64_t length = partial ? range.length() : size;
  Answer answer{partial ? unsigned{MHD_HTTP_PARTIAL_CONTENT} : unsigned{MHD_HTTP_OK},
                emptyResponse()};
  if (length != 0) {
    // The response owns the descriptor from here on and closes it when it is destroyed.
    const int owned = fd.release();
    answer.response.reset(MHD_create_response_from_fd_at_offset64(length, owned, offset));
    if (!answer.response) {
      ::close(owned);
      return textAnswer(MHD_HTTP_INTERNAL_SERVER_ERROR, "Internal Server Error");
    }
  }
  addValidators(answer.response.get());
  MHD_add_response_header(answer.response.get(), MHD_HTTP_HEADER_CONTENT_TYPE,
                          contentTypeFor(file).c_str());
  if (partial) {
    MHD_add_response_header(answer.response.get(), MHD_HTTP_HEADER_CONTENT_RANGE,
                            ("bytes " + std::to_string(range.first()) + "-" +
                             std::to_string(range.last()) + "/" + std::to_string(size))
                                .c_str());
  }
  return answer;
}

bool UpdateServer::Callbacks::descriptorIsInside(const UpdateServer& server, int fd,
                                                 const fs::path& openedAs) {
  // A file replaced by a publish after it was opened is still the file that was inside.
  const auto real = platform::os::openedFilePath(fd, openedAs);
  return real && server.folder_.contains(*real);
}

}  // namespace tolvane::tools
