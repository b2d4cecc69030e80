#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "HTTP/Core/StringEncoding.h"
#include "HTTP/Response/ResponseSerializer.h"

namespace tolvane::http {

// The body as UTF-8 text, decoded from the given encoding or else from the charset the
// response names; a missing or unknown charset means ISO Latin 1, which decodes any bytes.
// An allowed empty body gives the empty text.
class StringResponseSerializer final : public ResponseSerializer<std::string> {
 public:
  explicit StringResponseSerializer(
      std::shared_ptr<const DataPreprocessor> dataPreprocessor = defaultDataPreprocessor(),
      std::optional<StringEncoding> encoding = std::nullopt,
      EmptyResponseCodes emptyResponseCodes = defaultEmptyResponseCodes(),
      EmptyRequestMethods emptyRequestMethods = defaultEmptyRequestMethods());

  [[nodiscard]] const std::optional<StringEncoding>& encoding() const { return encoding_; }

  [[nodiscard]] Result<std::string> serialize(const std::optional<platform::URLRequest>& request,
                                              const platform::HTTPURLResponse* response,
                                              const std::optional<platform::Data>& data,
                                              const std::optional<HTTPError>& error) const override;

  // The encoding an IANA charset name stands for (matched ignoring case), if it is one of
  // the UTF and ISO Latin 1 names the serializer knows.
  [[nodiscard]] static std::optional<StringEncoding> encodingForCharset(std::string_view name);
  // `bytes` decoded from `encoding` into UTF-8; none when they are not valid in it.
  [[nodiscard]] static std::optional<std::string> decode(std::string_view bytes,
                                                         StringEncoding encoding);

 private:
  std::optional<StringEncoding> encoding_;
};

}  // namespace tolvane::http
