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
#include "Platform/URLRequest.h"
#include "Platform/URLSessionTaskMetrics.h"

namespace tolvane::http {

// What a data request's response handler receives: the last URL request, the response, the
// body, the transfer metrics, how long serialization took, and the serialized result.
// A plain value.
template <typename Success>
struct DataResponse {
  std::optional<platform::URLRequest> request;
  std::shared_ptr<const platform::HTTPURLResponse> response;
  std::optional<platform::Data> data;
  std::optional<platform::URLSessionTaskMetrics> metrics;
  double serializationDuration = 0;
  Result<Success> result;

  [[nodiscard]] std::optional<Success> value() const { return result.success(); }
  [[nodiscard]] std::optional<HTTPError> error() const { return result.failure(); }

  // The result's text form.
  [[nodiscard]] std::string description() const { return describeResult(result); }

  // Everything, one block per line, for logs and test failures.
  [[nodiscard]] std::string debugDescription() const {
    namespace text = ::tolvane::http::debugDescription;
    if (!request) return "[Request]: None\n[Result]: " + description();
    std::string responseText = "[Response]: None";
    if (response) {
      responseText = text::responseBlock(*response) + "\n    " +
                     text::indented(text::bodyBlock(data, headers(*response)));
    }
    return text::requestBlock(*request) + "\n" + responseText + "\n" +
           text::networkDurationLine(metrics) + "\n" +
           text::serializationDurationLine(serializationDuration) + "\n[Result]: " + description();
  }
};

}  // namespace tolvane::http
