#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tolvane::http {

class HTTPError;

// The outcome of an operation of the HTTP layer: a value or an HTTPError.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(const T& value) : storage_(std::in_place_index<0>, value) {}
  Result(T&& value) : storage_(std::in_place_index<0>, std::move(value)) {}
  Result(const HTTPError& error) : storage_(std::in_place_index<1>, error) {}
  Result(HTTPError&& error) : storage_(std::in_place_index<1>, std::move(error)) {}

  [[nodiscard]] bool isSuccess() const { return storage_.index() == 0; }
  [[nodiscard]] bool isFailure() const { return storage_.index() == 1; }

  // Only valid on success / on failure respectively (std::bad_variant_access otherwise).
  [[nodiscard]] const T& value() const& { return std::get<0>(storage_); }
  [[nodiscard]] T& value() & { return std::get<0>(storage_); }
  [[nodiscard]] T&& value() && { return std::get<0>(std::move(storage_)); }
  [[nodiscard]] const HTTPError& error() const& { return std::get<1>(storage_); }
  [[nodiscard]] HTTPError&& error() && { return std::get<1>(std::move(storage_)); }

  [[nodiscard]] std::optional<T> success() const {
    return isSuccess() ? std::optional<T>(value()) : std::nullopt;
  }
  // (A template only so that HTTPError may still be incomplete where Result is declared.)
  template <typename E = HTTPError>
  [[nodiscard]] std::optional<E> failure() const {
    return isFailure() ? std::optional<E>(error()) : std::nullopt;
  }

  // The value transformed by `f`, or the same error.
  template <typename F>
  [[nodiscard]] auto map(F&& f) const -> Result<std::invoke_result_t<F, const T&>> {
    if (isSuccess()) return std::forward<F>(f)(value());
    return error();
  }

 private:
  std::variant<T, HTTPError> storage_;
};

}  // namespace tolvane::http

#include "HTTP/Core/HTTPError.h"
