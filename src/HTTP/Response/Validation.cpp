#include "HTTP/Response/Validation.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "HTTP/Core/EventMonitor.h"
#include "HTTP/Response/MediaType.h"
#include "HTTP/Response/ResponseFailures.h"
#include "HTTP/Response/ResponseLayer.h"

namespace tolvane::http {

namespace {

ValidationResult failure(HTTPError error) {
  return ValidationResult::failure(platform::makeError(std::move(error)));
}

std::vector<std::string> sortedTexts(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

// Tells the request's monitor what a validator found, failure or not.
void report(const std::shared_ptr<DataRequest>& request, const platform::HTTPURLResponse& response,
            const ValidationResult& result) {
  if (const auto& monitor = request->eventMonitor()) {
    monitor->requestDidValidateRequestResponseDataWithResult(request, request->lastRequest(),
                                                             response, request->data(), result);
  }
}

void report(const std::shared_ptr<DownloadRequest>& request,
            const platform::HTTPURLResponse& response, const ValidationResult& result) {
  if (const auto& monitor = request->eventMonitor()) {
    monitor->requestDidValidateRequestResponseFileURLWithResult(
        request, request->lastRequest(), response, request->fileURL(), result);
  }
}

// What every validator does around its check: skip a request that already failed or has no
// HTTP response, store the first failure as the request's error and report the outcome.
template <typename RequestType, typename Check>
void attach(const std::shared_ptr<RequestType>& request, Check check) {
  std::weak_ptr<RequestType> weak = request;
  request->addValidator(detail::ResponseLayer::key(), [weak, check = std::move(check)] {
    const auto self = weak.lock();
    if (!self || self->error()) return;
    const auto task = self->lastTask();
    const auto response = task ? task->response() : nullptr;
    if (!response) return;
    const ValidationResult result = check(*self, *response);
    if (!result.isSuccess()) {
      self->setError(detail::ResponseLayer::key(), asHTTPError(result.error(), [&] {
                       return failures::customValidationFailed(result.error());
                     }));
    }
    report(self, *response, result);
  });
}

}  // namespace

bool isDefaultAcceptableStatusCode(int code) { return code >= 200 && code < 300; }

std::vector<std::string> defaultAcceptableContentTypes(
    const std::optional<platform::URLRequest>& request) {
  const auto accept = request ? request->value("Accept") : std::nullopt;
  if (!accept) return {"*/*"};
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const auto comma = accept->find(',', start);
    pieces.push_back(
        accept->substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return pieces;
    start = comma + 1;
  }
}

ValidationResult validateStatusCode(const platform::HTTPURLResponse& response,
                                    const std::function<bool(int)>& acceptable) {
  if (acceptable(response.statusCode)) return ValidationResult::success();
  return failure(failures::unacceptableStatusCode(response.statusCode));
}

ValidationResult validateMediaType(const std::vector<std::string>& acceptable,
                                   const platform::HTTPURLResponse& response) {
  if (!response.mimeType) {
    const bool wildcard =
        std::any_of(acceptable.begin(), acceptable.end(),
                    [](const std::string& type) { return MediaType::parse(type).isWildcard(); });
    if (wildcard) return ValidationResult::success();
    return failure(failures::missingContentType(sortedTexts(acceptable)));
  }
  const auto responseType = MediaType::parse(*response.mimeType);
  for (const auto& type : acceptable) {
    if (MediaType::parse(type).matches(responseType)) return ValidationResult::success();
  }
  return failure(failures::unacceptableContentType(sortedTexts(acceptable), *response.mimeType));
}

ValidationResult validateContentType(const std::vector<std::string>& acceptable,
                                     const platform::HTTPURLResponse& response,
                                     const std::optional<platform::Data>& data) {
  if (!data || data->empty()) return ValidationResult::success();
  return validateMediaType(acceptable, response);
}

ValidationResult validateContentType(const std::vector<std::string>& acceptable,
                                     const platform::HTTPURLResponse& response,
                                     const std::optional<platform::URL>& fileURL) {
  if (!fileURL) return failure(failures::dataFileNil());
  std::error_code error;
  const auto size = fileURL->isFileURL()
                        ? std::filesystem::file_size(fileURL->filePath(), error)
                        : (error = std::make_error_code(std::errc::invalid_argument), 0);
  if (error) return failure(failures::dataFileReadFailed(*fileURL));
  if (size == 0) return ValidationResult::success();
  return validateMediaType(acceptable, response);
}

std::shared_ptr<DataRequest> validate(const std::shared_ptr<DataRequest>& request,
                                      DataValidation validation) {
  attach(request, [validation = std::move(validation)](const DataRequest& self,
                                                       const platform::HTTPURLResponse& response) {
    return validation(self.lastRequest(), response, self.data());
  });
  return request;
}

std::shared_ptr<DataRequest> validate(const std::shared_ptr<DataRequest>& request,
                                      std::function<bool(int)> statusCodeIsAcceptable) {
  attach(request, [acceptable = std::move(statusCodeIsAcceptable)](
                      const DataRequest&, const platform::HTTPURLResponse& response) {
    return validateStatusCode(response, acceptable);
  });
  return request;
}

std::shared_ptr<DataRequest> validate(const std::shared_ptr<DataRequest>& request,
                                      AcceptableContentTypes contentType) {
  attach(request, [contentType = std::move(contentType)](
                      const DataRequest& self, const platform::HTTPURLResponse& response) {
    return validateContentType(contentType(), response, self.data());
  });
  return request;
}

std::shared_ptr<DataRequest> validate(const std::shared_ptr<DataRequest>& request) {
  validate(request, std::function<bool(int)>(isDefaultAcceptableStatusCode));
  std::weak_ptr<DataRequest> weak = request;
  return validate(request, AcceptableContentTypes([weak] {
                    const auto self = weak.lock();
                    return defaultAcceptableContentTypes(self ? self->lastRequest() : std::nullopt);
                  }));
}

std::shared_ptr<DownloadRequest> validate(const std::shared_ptr<DownloadRequest>& request,
                                          DownloadValidation validation) {
  attach(request, [validation = std::move(validation)](const DownloadRequest& self,
                                                       const platform::HTTPURLResponse& response) {
    return validation(self.lastRequest(), response, self.fileURL());
  });
  return request;
}

std::shared_ptr<DownloadRequest> validate(const std::shared_ptr<DownloadRequest>& request,
                                          std::function<bool(int)> statusCodeIsAcceptable) {
  attach(request, [acceptable = std::move(statusCodeIsAcceptable)](
                      const DownloadRequest&, const platform::HTTPURLResponse& response) {
    return validateStatusCode(response, acceptable);
  });
  return request;
}

std::shared_ptr<DownloadRequest> validate(const std::shared_ptr<DownloadRequest>& request,
                                          AcceptableContentTypes contentType) {
  attach(request, [contentType = std::move(contentType)](
                      const DownloadRequest& self, const platform::HTTPURLResponse& response) {
    return validateContentType(contentType(), response, self.fileURL());
  });
  return request;
}

std::shared_ptr<DownloadRequest> validate(const std::shared_ptr<DownloadRequest>& request) {
  validate(request, std::function<bool(int)>(isDefaultAcceptableStatusCode));
  std::weak_ptr<DownloadRequest> weak = request;
  return validate(request, AcceptableContentTypes([weak] {
                    const auto self = weak.lock();
                    return defaultAcceptableContentTypes(self ? self->lastRequest() : std::nullopt);
                  }));
}

}  // namespace tolvane::http
