#pragma once

#include "Platform/Error.h"

namespace tolvane {

// A release's signature could not be fetched, so its jar cannot be verified and is not
// downloaded. Keeps the request's error as its cause; the description is a clause of its own
// in the user's language followed by the cause's. A plain value.
class SignatureFetchError final : public platform::Error {
 public:
  explicit SignatureFetchError(platform::ErrorPtr cause);

  [[nodiscard]] const platform::ErrorPtr& cause() const { return cause_; }

  [[nodiscard]] std::string localizedDescription() const override;
  [[nodiscard]] std::string debugDescription() const override;

 private:
  platform::ErrorPtr cause_;
};

}  // namespace tolvane
