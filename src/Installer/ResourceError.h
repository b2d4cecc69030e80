#pragma once

#include <string>

#include "Platform/Error.h"
#include "Platform/ThrowableError.h"

namespace tolvane {

// The installer pipeline's error: nine cases, six of them keeping the error that caused
// them. message() is the Russian text the user sees; it reads the cause's description when
// it is called. localizedDescription() is the platform's generic text for this error's
// domain and code, in the user's language, which is what appears when a ResourceError is
// itself a cause.
// Immutable; thrown by value and caught by type or as platform::ErrorException.
class ResourceError final : public platform::ThrowableError<ResourceError> {
 public:
  enum class Code : int {
    createFolder = 0,
    copyJava = 1,
    unzipJava = 2,
    failedDownloadLoaderModel = 3,
    failedToRunLauncher = 4,
    timeoutRequest = 5,
    getJavaZipURL = 6,
    failedToGetFirstObjectFromLoaderModel = 7,
    failedGetLoaderModel = 8,
  };

  static ResourceError createFolder(platform::ErrorPtr cause);
  static ResourceError copyJava(platform::ErrorPtr cause);
  static ResourceError unzipJava(platform::ErrorPtr cause);
  static ResourceError failedDownloadLoaderModel(platform::ErrorPtr cause);
  static ResourceError failedToRunLauncher(platform::ErrorPtr cause);
  static ResourceError timeoutRequest(platform::ErrorPtr cause);
  static ResourceError getJavaZipURL();
  static ResourceError failedToGetFirstObjectFromLoaderModel();
  static ResourceError failedGetLoaderModel();

  // The domain it takes as a platform error: the type's qualified name in the original
  // application.
  static constexpr const char* kDomain = "Tolvane_Apple_Silicon.ResourceError";

  [[nodiscard]] Code code() const { return code_; }
  // The wrapped error; null for the three cases without one.
  [[nodiscard]] const platform::ErrorPtr& cause() const { return cause_; }

  [[nodiscard]] std::string message() const;

  // "The operation couldn’t be completed. (Tolvane_Apple_Silicon.ResourceError error N.)",
  // or the same in the user's language.
  [[nodiscard]] std::string localizedDescription() const override;
  // The case name, with the cause's own debug text in parentheses when there is one.
  [[nodiscard]] std::string debugDescription() const override;

 private:
  ResourceError(Code code, platform::ErrorPtr cause);

  Code code_;
  platform::ErrorPtr cause_;
};

}  // namespace tolvane
