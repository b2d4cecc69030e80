#include "Platform/DownloadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "Platform/OperatingSystem.h"
#include "Platform/ResponseHead.h"
#include "Platform/SystemError.h"
#include "Platform/Text.h"

namespace tolvane::platform {
namespace {

constexpr std::string_view kTemporaryPrefix = "tolvane-download-";

// The folder a download task writes its file into.
std::filesystem::path downloadFolder(const URLRequest& request) {
  if (request.downloadDirectory && !request.downloadDirectory->empty())
    return *request.downloadDirectory;
  std::error_code error;
  return std::filesystem::temp_directory_path(error);
}

// What the player calls the file being downloaded: the name it has on the server.
std::string downloadName(const URLRequest& request) {
  std::string name = request.url ? request.url->lastPathComponent() : std::string();
  if (name.empty() || name.find('/') != std::string::npos)
    name = kTemporaryPrefix.substr(0, kTemporaryPrefix.size() - 1);
  return name;
}

bool isOurs(const std::filesystem::path& path, const std::filesystem::path& folder) {
  std::error_code error;
  return path.parent_path() == folder && path.filename().string().rfind(kTemporaryPrefix, 0) == 0 &&
         std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
}

// Whether the body is sent in a content coding (which libcurl decodes on the way in).
bool isContentCoded(const HeaderFields& fields) {
  const auto coding = fields.value("Content-Encoding");
  return coding && !trimmed(*coding).empty() && lowercased(trimmed(*coding)) != "identity";
}

}  // namespace

bool isTransportTemporaryFile(const std::filesystem::path& path) {
  std::error_code error;
  return isOurs(path, std::filesystem::temp_directory_path(error));
}

bool DownloadFile::continuePartial(const ResumeData& resume) {
  // Resume data is input: it must not make the transport truncate another file.
  const auto& partial = resume.temporaryFile;
  folder_ = downloadFolder(resume.request);
  name_ = downloadName(resume.request);
  if (!isOurs(partial, folder_)) return false;
  // Checked on the opened file itself, so a name swapped for a link after the look at the
  // path still cannot make us truncate someone else's file.
  file_.reset(::open(partial.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat info {};
  if (file_ && ::fstat(file_.get(), &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_uid == ::geteuid() && info.st_nlink == 1 && info.st_size >= resume.bytesReceived &&
      ::ftruncate(file_.get(), resume.bytesReceived) == 0 &&
      ::lseek(file_.get(), 0, SEEK_END) == resume.bytesReceived) {
    path_ = partial;
    offset_ = resume.bytesReceived;
    validator_ = resume.validator;
    completeLength_ = resume.completeLength;
    continuing_ = true;
    return true;
  }
  file_.reset();
  return false;
}

std::optional<TransferFailure> DownloadFile::prepare(const HTTPURLResponse& head,
                                                     const URLRequest& request) {
  const auto& fields = head.allHeaderFields;
  const std::string sent = std::exchange(validator_, ifRangeValidator(fields).value_or(""));
  const bool coded = isContentCoded(fields);
  const auto field = fields.value("Content-Range");
  const auto range = field ? parseContentRange(*field) : std::nullopt;
  if (head.statusCode == 206 && continuing_ && file_) {
    // A piece from somewhere else, of another version (a server that ignored If-Range or
    // whose validator proves nothing), or counted in coded bytes would be spliced in; the
    // partial file is no longer trustworthy.
    if (range && range->first == offset_ && range->total == completeLength_ &&
        range->last == completeLength_ - 1 && !sent.empty() && validator_ == sent && !coded)
      return std::nullopt;
    untrustworthy_ = true;
    return TransferFailure{URLError::badServerResponse,
                           "partial content does not continue the file"};
  }
  // Only a caller's own Range makes a 206 that this transfer did not ask for an answer; its
  // file is not the whole entity, so it is never continued.
  const bool callerRange = request.allHTTPHeaderFields.value("Range").has_value();
  if (head.statusCode == 206 && !callerRange) {
    untrustworthy_ = true;
    return TransferFailure{URLError::badServerResponse, "partial content nobody asked for"};
  }
  completeLength_ = head.statusCode == 206 || head.expectedContentLength < 0
                        ? kTransferSizeUnknown
                        : head.expectedContentLength;
  if (coded || completeLength_ == kTransferSizeUnknown) validator_.clear();
  if (file_) {
    // The server sent the whole entity (changed file, or no range support): start over in
    // a new file. The partial one is left as it was until it is removed, so resume data
    // that still names it can never continue it with bytes of another version.
    file_.reset();
    remove();
  }
  offset_ = 0;
  folder_ = downloadFolder(request);
  name_ = downloadName(request);
  if (auto anonymous = os::makeAnonymousFile(folder_)) {
    file_ = std::move(anonymous);
    path_.clear();
    return std::nullopt;
  }
  // Systems and file systems without anonymous files.
  std::string pattern = (folder_ / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return failure(URLError::cannotCreateFile, errno);
  file_.reset(fd);
  path_ = pattern;
  return std::nullopt;
}

TransferFailure DownloadFile::failure(URLError::Code code, int error) const {
  return TransferFailure{
      code, std::system_category().message(error),
      makeError(SystemError(error, SystemError::Operation::save, folder_ / name_))};
}

bool DownloadFile::write(const char* data, std::size_t size) {
  if (!writeFully(file_.get(), data, size)) return false;
  written_ += static_cast<std::int64_t>(size);
  return true;
}

void DownloadFile::name(std::uint64_t identifier) {
  if (!file_ || !path_.empty()) return;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const auto candidate =
        folder_ / (std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" +
                   std::to_string(identifier) + "-" + std::to_string(attempt));
    if (os::linkAnonymousFile(file_.get(), candidate)) {
      path_ = candidate;
      return;
    }
    if (errno != EEXIST) return;
  }
}

void DownloadFile::remove() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
  path_.clear();
}

std::optional<ResumeData> DownloadFile::resumeData(const URLRequest& request,
                                                   int lastStatus) const {
  // A continued transfer that failed before any response keeps what it had.
  const bool continuedWithoutAnswer = continuing_ && lastStatus == 0;
  if (untrustworthy_ || path_.empty() || validator_.empty() || completeLength_ < 0 ||
      request.httpMethod != "GET" ||
      (lastStatus != 200 && lastStatus != 206 && !continuedWithoutAnswer)) {
    return std::nullopt;
  }
  ResumeData resume;
  resume.request = request;
  resume.temporaryFile = path_;
  resume.bytesReceived = size();
  resume.validator = validator_;
  resume.completeLength = completeLength_;
  return resume;
}

}  // namespace tolvane::platform
