#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

#include "HTTP/Core/Request.h"
#include "HTTP/Core/Result.h"
#include "HTTP/Core/URLConvertible.h"
#include "Platform/Data.h"
#include "Platform/FileManager.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/Protected.h"
#include "Platform/URL.h"

namespace tolvane::http {

// What a download request does around moving its file (DownloadRequest::Options): a bit set
// over a signed integer.
struct DownloadOptions {
  int rawValue = 0;

  constexpr DownloadOptions() = default;
  constexpr explicit DownloadOptions(int raw) : rawValue(raw) {}
  constexpr DownloadOptions(std::initializer_list<DownloadOptions> options) {
    for (const auto option : options) rawValue |= option.rawValue;
  }

  // Create the destination's missing parent folders first.
  static const DownloadOptions createIntermediateDirectories;
  // Replace a file already at the destination.
  static const DownloadOptions removePreviousFile;

  [[nodiscard]] constexpr bool contains(DownloadOptions other) const {
    return (rawValue & other.rawValue) == other.rawValue;
  }
  friend constexpr DownloadOptions operator|(DownloadOptions a, DownloadOptions b) {
    return DownloadOptions(a.rawValue | b.rawValue);
  }
  friend constexpr bool operator==(DownloadOptions, DownloadOptions) = default;
};

// A request whose body the transport writes to a temporary file instead of memory. When the
// transfer ends, the destination function says where the file goes; the file is moved there
// and its final location recorded (fileURL). A cancelled or failed transfer may leave resume
// data from which a new download request can continue. The partial file such resume data
// names in the temp folder is removed once nobody can reach the resume data any more: when
// the attempt is retried from the start, or when the final error replaces the attempt's own.
//
// Threads: as Request. The download state (fileURL, resumeData) has a lock of its own that
// is never held together with the request's lock; it may be read from any thread.
// Validation and response handlers are free functions (Validation.h, ResponseHandlers.h).
class DownloadRequest final : public Request {
 public:
  using Options = DownloadOptions;

  // Where a finished download goes: (temporary file URL, response) -> (destination, options).
  // Called once per successful transfer, on the underlying queue.
  using Destination = std::function<std::pair<platform::URL, Options>(
      const platform::URL& temporaryURL, const platform::HTTPURLResponse& response)>;

  // What the request downloads: a URL request built anew for each attempt, or resume data
  // left by an earlier download.
  class Downloadable {
   public:
    [[nodiscard]] static Downloadable request(
        std::shared_ptr<const URLRequestConvertible> convertible) {
      return Downloadable(std::move(convertible));
    }
    [[nodiscard]] static Downloadable resumeData(platform::Data data) {
      return Downloadable(std::move(data));
    }

    // Null when this is resume data.
    [[nodiscard]] std::shared_ptr<const URLRequestConvertible> convertible() const {
      const auto* convertible = std::get_if<std::shared_ptr<const URLRequestConvertible>>(&value_);
      return convertible ? *convertible : nullptr;
    }
    [[nodiscard]] const platform::Data* resumeData() const {
      return std::get_if<platform::Data>(&value_);
    }

   private:
    explicit Downloadable(
        std::variant<std::shared_ptr<const URLRequestConvertible>, platform::Data> value)
        : value_(std::move(value)) {}
    std::variant<std::shared_ptr<const URLRequestConvertible>, platform::Data> value_;
  };

  enum class SearchPathDirectory { documentDirectory, downloadsDirectory, cachesDirectory };
  enum class SearchPathDomain { userDomainMask };

  DownloadRequest(Downloadable downloadable, Destination destination, Context context);

  [[nodiscard]] static std::shared_ptr<DownloadRequest> make(Downloadable downloadable,
                                                             Destination destination,
                                                             Context context);

  // Next to the temporary file, named "TolvaneHTTP_" + its name; no options. Used when a
  // caller gives no destination and when a transfer has no HTTP response.
  [[nodiscard]] static std::pair<platform::URL, Options> defaultDestination(
      const platform::URL& temporaryURL);
  [[nodiscard]] static Destination defaultDestinationFunction();
  // The user's standard folder (documents by default) plus the response's suggested file
  // name, reduced to a plain file name so a server cannot steer the file elsewhere.
  [[nodiscard]] static Destination suggestedDownloadDestination(
      SearchPathDirectory directory = SearchPathDirectory::documentDirectory,
      SearchPathDomain domain = SearchPathDomain::userDomainMask, Options options = {});

  [[nodiscard]] const Downloadable& downloadable() const { return downloadable_; }
  [[nodiscard]] const Destination& destination() const { return destination_; }
  // Where the last successful attempt put the file.
  [[nodiscard]] std::optional<platform::URL> fileURL() const;
  // Stored resume data, else the resume data the transport left in the request's error.
  [[nodiscard]] std::optional<platform::Data> resumeData() const;

  // With true, a retry after an attempt that left resume data continues the partial file
  // instead of starting over. Off by default: a retry is a fresh attempt. Set it before
  // the request starts.
  void setRetriesContinueFromResumeData(bool continues);
  // The resume data the next attempt continues from, when there is any.
  [[nodiscard]] std::optional<platform::Data> retryResumeData() const;

  // A download task for the URL request; for resume data use makeTaskFromResumeData.
  [[nodiscard]] platform::TaskPtr makeTask(RequestKey, const platform::URLRequest& request,
                                           platform::URLSession& session) override;
  // From retryResumeData() when there is some, else from the resume data the request was made with.
  [[nodiscard]] platform::TaskPtr makeTaskFromResumeData(RequestKey,
                                                         platform::URLSession& session) const;

  // Chaining forms of the base state operations.
  std::shared_ptr<DownloadRequest> resume();
  std::shared_ptr<DownloadRequest> suspend();
  // Cancels without resume data.
  std::shared_ptr<DownloadRequest> cancel();
  // With true, the transport is asked for resume data, which is kept as resumeData().
  std::shared_ptr<DownloadRequest> cancelProducingResumeData(bool producingResumeData);
  // Cancels producing resume data and hands it (or none) to `completion` once it is stored,
  // on the transport's delegate queue.
  std::shared_ptr<DownloadRequest> cancelByProducingResumeData(
      std::function<void(std::optional<platform::Data>)> completion);

  // Events from the transport delegate; underlying queue only.
  // Chooses the destination, moves the finished temporary file there and reports the
  // outcome through didFinishDownloading. `fileManager` does the file work.
  void didFinishDownloadingTo(RequestKey, const platform::TaskPtr& task,
                              const std::filesystem::path& temporaryFile,
                              const platform::FileManager& fileManager);
  void didFinishDownloading(RequestKey, const platform::TaskPtr& task,
                            const Result<platform::URL>& result);
  // `bytes` more have arrived of `totalBytesExpected` (kTransferSizeUnknown when unknown);
  // for a resumed transfer `bytes` is the offset it resumed at.
  void updateDownloadProgress(RequestKey, std::int64_t bytes, std::int64_t totalBytesExpected);

 protected:
  // A cancel through any type (Request, cancelAllRequests): without resume data.
  void cancelRequest() override;
  void reset() override;
  void errorReplaced(const HTTPError& replaced) override;

 private:
  // Removes the transport's partial file named by the resume data `failure` carries.
  void discardPartialFile(const std::optional<HTTPError>& failure) const;
  struct MutableDownloadState {
    std::optional<platform::Data> resumeData;
    std::optional<platform::URL> fileURL;
    bool retriesContinue = false;
    std::optional<platform::Data> retryResumeData;
  };

  std::shared_ptr<DownloadRequest> self() {
    return std::static_pointer_cast<DownloadRequest>(shared_from_this());
  }
  void cancel(std::optional<std::function<void(std::optional<platform::Data>)>> resumeDataHandler);

  const Downloadable downloadable_;
  const Destination destination_;
  platform::Protected<MutableDownloadState> mutableDownloadState_;
};

inline constexpr DownloadOptions DownloadOptions::createIntermediateDirectories{1};
inline constexpr DownloadOptions DownloadOptions::removePreviousFile{2};

}  // namespace tolvane::http
