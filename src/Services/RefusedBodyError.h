#pragma once

#include <string>

#include "Platform/Error.h"

namespace tolvane {

// Why a downloaded body was not allowed to become the launcher jar although the transfer
// succeeded. Its description is a sentence of its own, in the user's language, which the
// alert shows after the catalogue's prefix; the detail (what the reader found) is in
// debugDescription(). A plain value.
class RefusedBodyError final : public platform::Error {
 public:
  enum class Reason { notAJavaArchive };

  RefusedBodyError(Reason reason, std::string detail);

  [[nodiscard]] Reason reason() const { return reason_; }

  [[nodiscard]] std::string localizedDescription() const override;
  [[nodiscard]] std::string debugDescription() const override;

 private:
  Reason reason_;
  std::string detail_;
};

}  // namespace tolvane
