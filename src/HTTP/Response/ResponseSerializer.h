#pragma once

#include <memory>
#include <optional>
#include <set>
#include <unordered_set>

#include "HTTP/Core/HTTPError.h"
#include "HTTP/Core/HTTPMethod.h"
#include "HTTP/Core/Result.h"
#include "HTTP/Response/DataPreprocessor.h"
#include "HTTP/Response/ResponseFailures.h"
#include "Platform/Data.h"
#include "Platform/HTTPURLResponse.h"
#include "Platform/URL.h"
#include "Platform/URLRequest.h"

namespace tolvane::http {

// Turns what a finished data request holds into a value of T. `error` is the request's own
// error; a serializer hands it on unchanged. Implementations are immutable and may serve
// many requests on any thread.
template <typename T>
class DataResponseSerializerProtocol {
 public:
  using SerializedObject = T;
  virtual ~DataResponseSerializerProtocol() = default;
  [[nodiscard]] virtual Result<T> serialize(const std::optional<platform::URLRequest>& request,
                                            const platform::HTTPURLResponse* response,
                                            const std::optional<platform::Data>& data,
                                            const std::optional<HTTPError>& error) const = 0;
};

// The same for a finished download: `fileURL` is where the downloaded file was put.
template <typename T>
class DownloadResponseSerializerProtocol {
 public:
  using SerializedObject = T;
  virtual ~DownloadResponseSerializerProtocol() = default;
  [[nodiscard]] virtual Result<T> serializeDownload(
      const std::optional<platform::URLRequest>& request, const platform::HTTPURLResponse* response,
      const std::optional<platform::URL>& fileURL, const std::optional<HTTPError>& error) const = 0;
};

using EmptyResponseCodes = std::set<int>;
using EmptyRequestMethods = std::unordered_set<HTTPMethod>;

// Defaults shared by every serializer: 204 and 205 may come without a body, and so may any
// answer to HEAD; bodies pass through unchanged.
[[nodiscard]] const EmptyResponseCodes& defaultEmptyResponseCodes();
[[nodiscard]] const EmptyRequestMethods& defaultEmptyRequestMethods();
[[nodiscard]] std::shared_ptr<const DataPreprocessor> defaultDataPreprocessor();

// Reads a whole file; none when it cannot be read.
[[nodiscard]] std::optional<platform::Data> readWholeFile(const platform::URL& fileURL);

// A serializer for both request kinds, with the empty-body rules and a preprocessor. The
// download form reads the file and runs the data form on its bytes, so subclasses only
// write serialize().
template <typename T>
class ResponseSerializer : public DataResponseSerializerProtocol<T>,
                           public DownloadResponseSerializerProtocol<T> {
 public:
  using SerializedObject = T;

  [[nodiscard]] const std::shared_ptr<const DataPreprocessor>& dataPreprocessor() const {
    return dataPreprocessor_;
  }
  [[nodiscard]] const EmptyResponseCodes& emptyResponseCodes() const { return emptyResponseCodes_; }
  [[nodiscard]] const EmptyRequestMethods& emptyRequestMethods() const {
    return emptyRequestMethods_;
  }

  // None when there is no request or it names no method.
  [[nodiscard]] std::optional<bool> requestAllowsEmptyResponseData(
      const std::optional<platform::URLRequest>& request) const {
    if (!request || request->httpMethod.empty()) return std::nullopt;
    return emptyRequestMethods_.contains(HTTPMethod(request->httpMethod));
  }
  // None when there is no response.
  [[nodiscard]] std::optional<bool> responseAllowsEmptyResponseData(
      const platform::HTTPURLResponse* response) const {
    if (!response) return std::nullopt;
    return emptyResponseCodes_.contains(response->statusCode);
  }
  [[nodiscard]] bool emptyResponseAllowed(const std::optional<platform::URLRequest>& request,
                                          const platform::HTTPURLResponse* response) const {
    return requestAllowsEmptyResponseData(request).value_or(false) ||
           responseAllowsEmptyResponseData(response).value_or(false);
  }

  [[nodiscard]] Result<T> serializeDownload(const std::optional<platform::URLRequest>& request,
                                            const platform::HTTPURLResponse* response,
                                            const std::optional<platform::URL>& fileURL,
                                            const std::optional<HTTPError>& error) const override {
    if (error) return *error;
    if (!fileURL) return failures::serialization(failures::SerializationReason::Kind::inputFileNil);
    auto data = readWholeFile(*fileURL);
    if (!data) return failures::inputFileReadFailed(*fileURL);
    return this->serialize(request, response, data, std::nullopt);
  }

 protected:
  ResponseSerializer(std::shared_ptr<const DataPreprocessor> dataPreprocessor,
                     EmptyResponseCodes emptyResponseCodes, EmptyRequestMethods emptyRequestMethods)
      : dataPreprocessor_(dataPreprocessor ? std::move(dataPreprocessor)
                                           : defaultDataPreprocessor()),
        emptyResponseCodes_(std::move(emptyResponseCodes)),
        emptyRequestMethods_(std::move(emptyRequestMethods)) {}

  // The common opening of every data form: the request's error wins; an absent or empty
  // body is either allowed (`emptyValue` is returned) or a failure; otherwise the body goes
  // through the preprocessor. On success `body` holds the bytes to serialize.
  template <typename MakeEmpty>
  [[nodiscard]] std::optional<Result<T>> prepare(const std::optional<platform::URLRequest>& request,
                                                 const platform::HTTPURLResponse* response,
                                                 const std::optional<platform::Data>& data,
                                                 const std::optional<HTTPError>& error,
                                                 MakeEmpty&& emptyValue,
                                                 platform::Data& body) const {
    if (error) return Result<T>(*error);
    if (!data || data->empty()) {
      if (!emptyResponseAllowed(request, response)) {
        return Result<T>(
            failures::serialization(failures::SerializationReason::Kind::inputDataNilOrZeroLength));
      }
      return std::forward<MakeEmpty>(emptyValue)();
    }
    auto preprocessed = dataPreprocessor_->preprocess(*data);
    if (preprocessed.isFailure()) return Result<T>(preprocessed.error());
    body = std::move(preprocessed).value();
    return std::nullopt;
  }

 private:
  std::shared_ptr<const DataPreprocessor> dataPreprocessor_;
  EmptyResponseCodes emptyResponseCodes_;
  EmptyRequestMethods emptyRequestMethods_;
};

}  // namespace tolvane::http
