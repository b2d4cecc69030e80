#pragma once

#include <memory>
#include <optional>
#include <string>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/Result.h"
#include "HTTP/Response/DebugDescription.h"
#include "HTTP/Response/ValueDescription.h"
#include "Platform/Data.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/URL.h"
#include "Platform/URLRequest.h"
#include "Platform/URLSessionTaskMetrics.h"

namespace tolvane::http {

// What a download request's response handler receives: as DataResponse, but with the final
// location of the downloaded file and any resume data instead of a body. A plain value.
template <typename Success>
struct DownloadResponse {
  std::optional<platform::URLRequest> request;
  std::shared_ptr<const platform::HTTPURLResponse> response;
  std::optional<platform::URL> fileURL;
  std::optional<platform::Data> resumeData;
  std::optional<platform::URLSessionTaskMetrics> metrics;
  double serializationDuration = 0;
  Result<Success> result;

  [[nodiscard]] std::optional<Success> value() const { return result.success(); }
  [[nodiscard]] std::optional<HTTPError> error() const { return result.failure(); }

  [[nodiscard]] std::string description() const { return describeResult(result); }

  [[nodiscard]] std::string debugDescription() const {
    namespace text = ::tolvane::http::debugDescription;
    if (!request) return "[Request]: None\n[Result]: " + description();
    const std::string responseText =
        response ? text::responseBlock(*response) : std::string("[Response]: None");
    const std::string fileText =
        fileURL ? (fileURL->isFileURL() ? fileURL->filePath().string() : fileURL->path())
                : std::string("None");
    const std::string resumeText =
        resumeData ? byteCountDescription(*resumeData) : std::string("None");
    return text::requestBlock(*request) + "\n" + responseText + "\n[File URL]: " + fileText +
           "\n[Resume Data]: " + resumeText + "\n" + text::networkDurationLine(metrics) + "\n" +
           text::serializationDurationLine(serializationDuration) + "\n[Result]: " + description();
  }
};

}  // namespace tolvane::http
