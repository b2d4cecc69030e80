#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tolvane::platform {

// Any failure value the program hands around: OS errors, transport errors, the HTTP
// layer's HTTPError and the installer's ResourceError all derive from it, so an error
// that wraps a cause can hold any of them and compose its message when it is read.
// Errors are immutable and shared (ErrorPtr).
class Error {
 public:
  virtual ~Error() = default;

  // The text a person sees for this error.
  [[nodiscard]] virtual std::string localizedDescription() const = 0;

  // The value's default textual form, used where a message embeds "the text of" an error
  // rather than its localized description. Unless a type says otherwise, the same text.
  [[nodiscard]] virtual std::string debugDescription() const { return localizedDescription(); }

 protected:
  Error() = default;
  Error(const Error&) = default;
  Error& operator=(const Error&) = default;
};

using ErrorPtr = std::shared_ptr<const Error>;

// Wraps a copy of an error value in a shared pointer, keeping its dynamic type.
template <typename E>
ErrorPtr makeError(E error) {
  return std::make_shared<const E>(std::move(error));
}

// The platform's text for an error that has none of its own, in the user's language:
//   The operation couldn’t be completed. (Tolvane_Apple_Silicon.ResourceError error 5.)
[[nodiscard]] std::string genericErrorDescription(std::string_view domain, int code);

}  // namespace tolvane::platform
