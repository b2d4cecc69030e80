#include "Support/FlakyFile.h"

#include <algorithm>
#include <chrono>

#include "Support/TestArchives.h"

namespace tolvane::test {

FlakyFile::FlakyFile(Version version, Behaviour behaviour)
    : behaviour_(behaviour), version_(std::move(version)) {}

std::shared_ptr<FlakyFile> FlakyFile::serve(LoopbackServer& server, const std::string& pattern,
                                            Version version, Behaviour behaviour) {
  auto file = std::make_shared<FlakyFile>(std::move(version), behaviour);
  server.get(pattern,
             [file, &server](const httplib::Request& request, httplib::Response& response) {
               file->handle(server, request, response);
             });
  return file;
}

void FlakyFile::changeAfter(int responses, Version next) {
  std::lock_guard guard(mutex_);
  change_.emplace(responses, std::move(next));
}

std::uint64_t FlakyFile::bodyBytesSent() const {
  std::lock_guard guard(mutex_);
  return bodyBytesSent_;
}

int FlakyFile::responses() const {
  std::lock_guard guard(mutex_);
  return responses_;
}

void FlakyFile::handle(LoopbackServer& server, const httplib::Request& request,
                       httplib::Response& response) {
  // Ranges are answered here, not by the library, which ignores If-Range.
  const_cast<httplib::Request&>(request).ranges.clear();
  Version version;
  bool cut = false;
  {
    std::lock_guard guard(mutex_);
    if (change_ && responses_ >= change_->first) version_ = change_->second;
    version = version_;
    ++responses_;
    cut = !behaviour_.dropLimit || responses_ <= *behaviour_.dropLimit;
  }
  if (behaviour_.gzip &&
      request.get_header_value("Accept-Encoding").find("gzip") != std::string::npos) {
    version.body = gzipped(version.body);
    response.set_header("Content-Encoding", "gzip");
  }
  const auto size = static_cast<std::int64_t>(version.body.size());
  std::int64_t first = 0;
  const std::string range = request.get_header_value("Range");
  const std::string ifRange = request.get_header_value("If-Range");
  const bool current = !request.has_header("If-Range") || !behaviour_.honoursIfRange ||
                       (!version.entityTag.empty() && ifRange == version.entityTag) ||
                       (!version.lastModified.empty() && ifRange == version.lastModified);
  const bool partial = behaviour_.ranges && current && range.rfind("bytes=", 0) == 0;
  if (partial)
    first = std::clamp<std::int64_t>(std::atoll(range.c_str() + 6) + behaviour_.rangeSkew, 0, size);
  if (!version.entityTag.empty() && (!partial || behaviour_.tagOnPartial))
    response.set_header("ETag", version.entityTag);
  if (!version.lastModified.empty()) response.set_header("Last-Modified", version.lastModified);
  if (!version.date.empty()) response.set_header("Date", version.date);
  if (behaviour_.ranges) response.set_header("Accept-Ranges", "bytes");
  response.status = partial ? 206 : 200;
  if (partial) {
    response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                             std::to_string(size - 1) + "/" + std::to_string(size));
  }
  const auto length = static_cast<std::size_t>(size - first);
  const auto allowed =
      cut ? static_cast<std::size_t>(static_cast<double>(size) * behaviour_.dropFraction) : length;
  response.set_content_provider(
      length, "application/java-archive",
      [this, &server, body = version.body.substr(static_cast<std::size_t>(first)), allowed](
          std::size_t offset, std::size_t available, httplib::DataSink& sink) {
        if (offset >= allowed) {
          // Let the bytes already written leave before the connection goes.
          server.pause(std::chrono::milliseconds(50));
          return false;
        }
        const std::size_t chunk = std::min({available, allowed - offset, std::size_t{64 * 1024}});
        if (!sink.write(body.data() + offset, chunk)) return false;
        std::lock_guard guard(mutex_);
        bodyBytesSent_ += chunk;
        return true;
      });
}

}  // namespace tolvane::test
