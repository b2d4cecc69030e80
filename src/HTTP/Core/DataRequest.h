#pragma once

#include <memory>
#include <optional>

#include "HTTP/Core/Request.h"
#include "HTTP/Core/URLConvertible.h"
#include "Platform/Data.h"

namespace tolvane::http {

// A request whose body is kept in memory. The body has its own lock (the base request's
// lock guards everything else); it is appended to on the underlying queue and may be read
// from any thread.
class DataRequest : public Request {
 public:
  DataRequest(std::shared_ptr<const URLRequestConvertible> convertible, Context context);

  [[nodiscard]] static std::shared_ptr<DataRequest> make(
      std::shared_ptr<const URLRequestConvertible> convertible, Context context);

  [[nodiscard]] const std::shared_ptr<const URLRequestConvertible>& convertible() const {
    return convertible_;
  }
  // The body received so far: none until the first chunk arrives (never an empty body).
  [[nodiscard]] std::optional<platform::Data> data() const;
  // The failure a serializer reports for this attempt's body: a body refused for passing the
  // URL request's maximumBodyLength is a body that could not be decoded, not a failed
  // transfer (the transport stopped reading it on purpose). None otherwise.
  [[nodiscard]] std::optional<HTTPError> bodyError() const;
  // What serializers are handed as the error, and what the plain response handler reports:
  // the request's error, else bodyError(), so a refused body is never mistaken for success.
  [[nodiscard]] std::optional<HTTPError> serializationInputError() const;

  [[nodiscard]] platform::TaskPtr makeTask(RequestKey, const platform::URLRequest& request,
                                           platform::URLSession& session) override;

  // A transport chunk arrived; underlying queue only.
  void didReceive(RequestKey, const platform::Data& chunk);

  // Chaining forms of the base state operations.
  std::shared_ptr<DataRequest> resume();
  std::shared_ptr<DataRequest> suspend();
  std::shared_ptr<DataRequest> cancel();

 protected:
  void reset() override;
  std::optional<HTTPError> taskCompletionError(const std::optional<HTTPError>& error) override;

 private:
  std::shared_ptr<DataRequest> self() {
    return std::static_pointer_cast<DataRequest>(shared_from_this());
  }

  const std::shared_ptr<const URLRequestConvertible> convertible_;
  platform::Protected<std::optional<platform::Data>> data_;
  platform::Protected<std::optional<HTTPError>> bodyError_;
};

}  // namespace tolvane::http
