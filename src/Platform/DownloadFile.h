#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Platform/FileDescriptor.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/ResumeData.h"
#include "Platform/TransferFailure.h"
#include "Platform/URLRequest.h"

namespace tolvane::platform {

// Whether `path` is a partial download file the transport made in the temp folder.
[[nodiscard]] bool isTransportTemporaryFile(const std::filesystem::path& path);

// The file a download task writes its body into. It stays nameless while it is written
// (an anonymous file, see OperatingSystem.h) and gets a name in the download folder only when
// the task ends, so a program killed mid-download leaves nothing behind; systems and file
// systems without anonymous files get a named file from the start. A partial file from
// resume data is only continued when it is one of ours, still intact, and the server's answer
// proves it is the rest of the same file: a 206 to the Range this transfer sent, starting at
// the partial file's end and running to the file's end, with the validator sent in If-Range
// and the complete length of the answer the partial file began with. A 206 to a request that
// asked for no range is refused.
// Used on the network thread only.
class DownloadFile {
 public:
  // Reopens the partial file named in `resume` for appending, when it is one of ours in
  // the request's download folder and holds at least the bytes resume data counts; false
  // (and nothing open) otherwise, and the download starts over.
  bool continuePartial(const ResumeData& resume);

  // Readies the file for the body of the final response `head` to `request`: keeps the
  // partial file for the 206 that continues it, starts a fresh file for a whole entity.
  [[nodiscard]] std::optional<TransferFailure> prepare(const HTTPURLResponse& head,
                                                       const URLRequest& request);
  // Appends body bytes; errno tells why when it fails.
  [[nodiscard]] bool write(const char* data, std::size_t size);
  // The transfer's failure `code` for the file-system error `error` (an errno value) on this
  // file. The error names the file as the player knows it (its name on the server) and the
  // download folder, since the file itself may have no name yet.
  [[nodiscard]] TransferFailure failure(URLError::Code code, int error) const;
  // Gives a nameless file its name in the download folder (`identifier` makes it unique);
  // the path stays empty when that fails.
  void name(std::uint64_t identifier);
  // Closes the file; a named one stays where it is.
  void close() { file_.reset(); }
  // Removes the named file, if any.
  void remove();

  // Resume data from which a later task continues this file, if it can be continued:
  // a named GET download whose last answer was 200 or 206 (or that was continuing and got
  // no answer at all), with an If-Range validator and a known length, and not content-coded
  // (the file holds decoded bytes, while a range counts coded ones).
  [[nodiscard]] std::optional<ResumeData> resumeData(const URLRequest& request,
                                                     int lastStatus) const;

  [[nodiscard]] bool isOpen() const { return file_.valid(); }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // Whether the next request asks for the rest of a partial file (Range and If-Range).
  [[nodiscard]] bool continuing() const { return continuing_; }
  // Bytes in the file before this transfer: where a continued download resumes.
  [[nodiscard]] std::int64_t offset() const { return offset_; }
  [[nodiscard]] std::int64_t size() const { return offset_ + written_; }
  [[nodiscard]] const std::string& validator() const { return validator_; }

 private:
  FileDescriptor file_;
  std::filesystem::path path_;    // empty while the file is nameless
  std::filesystem::path folder_;  // where the file gets its name
  std::string name_;              // the download's name on the server, for messages
  std::int64_t offset_ = 0;
  std::int64_t written_ = 0;
  bool continuing_ = false;
  bool untrustworthy_ = false;  // the partial file must not be continued
  std::string validator_;       // empty when the answer cannot be continued
  std::int64_t completeLength_ = kTransferSizeUnknown;
};

}  // namespace tolvane::platform
