#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "HTTP/Core/HTTPMethod.h"
#include "HTTP/Core/ParameterEncoding.h"

namespace tolvane::http {

// Writes parameters as a URL query: appended to the URL's query, or as a form-encoded body
// for methods that carry one. Top-level keys are sorted; nested maps keep their own order.
// Immutable value, usable from any thread.
class URLEncoding final : public ParameterEncoding {
 public:
  enum class Destination { methodDependent, queryString, httpBody };
  enum class BoolEncoding { numeric, literal };

  // How list elements are keyed: "k[]", "k", "k[i]", or a function of (key, index).
  class ArrayEncoding {
   public:
    enum class Kind { custom, brackets, noBrackets, indexInBrackets };
    using KeyFunction = std::function<std::string(const std::string& key, std::size_t index)>;

    static ArrayEncoding brackets() { return ArrayEncoding(Kind::brackets); }
    static ArrayEncoding noBrackets() { return ArrayEncoding(Kind::noBrackets); }
    static ArrayEncoding indexInBrackets() { return ArrayEncoding(Kind::indexInBrackets); }
    static ArrayEncoding custom(KeyFunction function) {
      ArrayEncoding encoding(Kind::custom);
      encoding.function_ = std::move(function);
      return encoding;
    }

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] std::string encode(const std::string& key, std::size_t index) const;

   private:
    explicit ArrayEncoding(Kind kind) : kind_(kind) {}
    Kind kind_;
    KeyFunction function_;
  };

  explicit URLEncoding(Destination destination = Destination::methodDependent,
                       ArrayEncoding arrayEncoding = ArrayEncoding::brackets(),
                       BoolEncoding boolEncoding = BoolEncoding::numeric);

  // All defaults (method-dependent, brackets, numeric).
  [[nodiscard]] static URLEncoding defaultEncoding() { return URLEncoding(); }
  [[nodiscard]] static URLEncoding queryString() { return URLEncoding(Destination::queryString); }
  [[nodiscard]] static URLEncoding httpBody() { return URLEncoding(Destination::httpBody); }

  [[nodiscard]] Destination destination() const { return destination_; }
  [[nodiscard]] const ArrayEncoding& arrayEncoding() const { return arrayEncoding_; }
  [[nodiscard]] BoolEncoding boolEncoding() const { return boolEncoding_; }

  [[nodiscard]] Result<platform::URLRequest> encode(
      platform::URLRequest request, const std::optional<Parameters>& parameters) const override;

  // "k1=v1&k2=v2" with the keys of `parameters` sorted. A null map gives "".
  [[nodiscard]] std::string query(const Parameters& parameters) const;
  // The escaped (key, value) pairs for one key and value.
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> queryComponents(
      const std::string& key, const Parameters& value) const;
  // Percent-encodes every byte but ASCII letters, digits and "-._~/?".
  [[nodiscard]] static std::string escape(std::string_view text);

 private:
  void appendComponents(const std::string& key, const Parameters& value,
                        std::vector<std::pair<std::string, std::string>>& out) const;

  Destination destination_;
  ArrayEncoding arrayEncoding_;
  BoolEncoding boolEncoding_;
};

}  // namespace tolvane::http
