#include "Support/NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Support/LoopbackServer.h"
#include "Support/TemporaryHome.h"
#include "Support/TestCertificate.h"
#include "Support/WaitUntil.h"

namespace tolvane::test {

namespace fs = std::filesystem;

namespace {

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

std::string NginxServer::skipReason() {
  if (::access(kExecutable, X_OK) == 0) return {};
  return std::string(kExecutable) +
         " is not installed (Debian package nginx-light; scripts/test installs it)";
}

std::string NginxServer::configuration(const fs::path& root, int port, const fs::path& certificate,
                                       const fs::path& privateKey, const fs::path& scratch,
                                       Options options) {
  const std::string s = scratch.string();
  std::ostringstream text;
  // One process in the foreground, as the test's child; it keeps the test's user, so it can
  // read the release folder and write its logs without privileges.
  text << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
       << "pid " << s << "/nginx.pid;\nerror_log " << s << "/error.log warn;\n"
       << "events { worker_connections 64; }\n"
       << "http {\n"
       << "  client_body_temp_path " << s << "/body;\n  proxy_temp_path " << s << "/proxy;\n"
       << "  fastcgi_temp_path " << s << "/fastcgi;\n  uwsgi_temp_path " << s << "/uwsgi;\n"
       << "  scgi_temp_path " << s << "/scgi;\n"
       << "  log_format requests '$request_method $request_uri $status';\n"
       << "  access_log " << s << "/access.log requests;\n"
       << R"(  types { application/java-archive jar; }
  default_type application/octet-stream;
  sendfile on;
  server_tokens off;
)" << (options.entityTags ? "" : "  etag off;\n")
       << R"(  server {
    listen 127.0.0.1:)"
       << port << R"( ssl;
    ssl_certificate )"
       << certificate.string() << R"(;
    ssl_certificate_key )"
       << privateKey.string() << R"(;
    ssl_protocols TLSv1.2 TLSv1.3;
    root )"
       << root.string() << R"(;
    # The manifest: JSON, revalidated on every request so a new release shows at once.
    location = /loaderv3.php {
      types { }
      default_type application/json;
      add_header Cache-Control "no-cache" always;
    }
    # Jars: a published path is never rewritten in place, so caches may keep them.
    location / {
      add_header Cache-Control "public, max-age=3600" always;
    }
  }
}
)";
  return text.str();
}

NginxServer::NginxServer(fs::path root, Options options) {
  const TestCertificate::Pair& pair = TestCertificate::shared().loopback();
  const fs::path configFile = scratch_.path() / "nginx.conf";
  const fs::path errorLog = scratch_.path() / "error.log";
  port_ = LoopbackServer::refusedPort();
  writeFile(configFile, configuration(fs::absolute(root), port_, pair.certificate, pair.privateKey,
                                      scratch_.path(), options));
  process_ = std::make_unique<platform::Process>(
      kExecutable, std::vector<std::string>{"-p", scratch_.path().string(), "-c",
                                            configFile.string(), "-e", errorLog.string()});
  process_->run();
  if (!waitUntil([this] { return accepts(port_); })) {
    ::kill(process_->processIdentifier(), SIGKILL);
    process_->waitUntilExit();
    throw std::runtime_error("nginx did not start: " +
                             (fs::exists(errorLog) ? readFile(errorLog) : std::string("no log")));
  }
}

NginxServer::~NginxServer() {
  ::kill(process_->processIdentifier(), SIGQUIT);  // graceful: finishes answers in flight
  process_->waitUntilExit();
}

std::string NginxServer::url(const std::string& pathAndQuery) const {
  return "https://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

std::vector<std::string> NginxServer::requests() const {
  std::vector<std::string> lines;
  std::ifstream log(scratch_.path() / "access.log");
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

}  // namespace tolvane::test
