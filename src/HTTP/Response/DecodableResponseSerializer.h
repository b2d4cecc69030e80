#pragma once

#include <exception>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "HTTP/Response/DataDecoder.h"
#include "HTTP/Response/Empty.h"
#include "HTTP/Response/JSONDecoder.h"
#include "HTTP/Response/ResponseSerializer.h"
#include "HTTP/Response/ValueDescription.h"
#include "Platform/DecodingError.h"
#include "Platform/ErrorException.h"

namespace tolvane::http {

// How a type reads itself from a JSON document. By default through a static member
//   static T fromJSON(const nlohmann::json&);
// that throws a platform::ErrorException (platform::DecodingError) when the document does not
// fit, as the installer's manifest records do; specialise Decoding<T> for other types.
template <typename T>
struct Decoding {
  [[nodiscard]] static T decode(const nlohmann::json& json) { return T::fromJSON(json); }
};

template <typename T>
concept Decodable = requires(const nlohmann::json& json) {
  { Decoding<T>::decode(json) } -> std::convertible_to<T>;
};

// The body decoded into T: parsed by the decoder (JSON by default), then read by T's strict
// decoder. An allowed empty body gives T's empty value when T has one (Empty does) and fails
// with invalidEmptyResponse naming the type otherwise; a decoding error becomes
// decodingFailed carrying that error.
template <Decodable T>
class DecodableResponseSerializer final : public ResponseSerializer<T> {
 public:
  explicit DecodableResponseSerializer(
      std::shared_ptr<const DataPreprocessor> dataPreprocessor = defaultDataPreprocessor(),
      std::shared_ptr<const DataDecoder> decoder = std::make_shared<const JSONDecoder>(),
      EmptyResponseCodes emptyResponseCodes = defaultEmptyResponseCodes(),
      EmptyRequestMethods emptyRequestMethods = defaultEmptyRequestMethods())
      : ResponseSerializer<T>(std::move(dataPreprocessor), std::move(emptyResponseCodes),
                              std::move(emptyRequestMethods)),
        decoder_(decoder ? std::move(decoder) : std::make_shared<const JSONDecoder>()) {}

  [[nodiscard]] const std::shared_ptr<const DataDecoder>& decoder() const { return decoder_; }

  [[nodiscard]] Result<T> serialize(const std::optional<platform::URLRequest>& request,
                                    const platform::HTTPURLResponse* response,
                                    const std::optional<platform::Data>& data,
                                    const std::optional<HTTPError>& error) const override {
    platform::Data body;
    auto emptyValue = []() -> Result<T> {
      if constexpr (EmptyResponse<T>) {
        return T(T::emptyValue());
      } else {
        return failures::invalidEmptyResponse(unqualifiedTypeName<T>());
      }
    };
    if (auto early = this->prepare(request, response, data, error, emptyValue, body))
      return std::move(*early);
    // Empty reads nothing, so whatever the body holds (even something that is not JSON)
    // decodes into it.
    if constexpr (std::same_as<T, Empty>) return Empty();

    platform::ErrorPtr failure;
    try {
      return Decoding<T>::decode(decoder_->document(body));
    } catch (const platform::ErrorException& decodingError) {
      failure = decodingError.error();
    } catch (const nlohmann::json::exception& jsonError) {
      // Raised by nlohmann's own accessors (get<>, at()) inside a type's decoder.
      failure = platform::makeError(
          platform::DecodingError(platform::DecodingError::Kind::typeMismatch, jsonError.what()));
    } catch (const std::exception& other) {
      failure = platform::makeError(
          platform::DecodingError(platform::DecodingError::Kind::dataCorrupted, other.what()));
    }
    return failures::serialization(failures::SerializationReason::Kind::decodingFailed, failure);
  }

 private:
  std::shared_ptr<const DataDecoder> decoder_;
};

}  // namespace tolvane::http
