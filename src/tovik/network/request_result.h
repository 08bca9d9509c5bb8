#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "tovik/network/http_url_response.h"
#include "tovik/system/error.h"

namespace tovik {

/// The outcome handed to a request's completion: `success` with the decoded value and the
/// HTTP response, or `failure` with an error and the HTTP response when there was one.
template <class T>
class RequestResult {
 public:
  static RequestResult success(T value, HTTPURLResponse response) {
    return RequestResult(std::in_place_index<0>, std::move(value), std::move(response));
  }
  static RequestResult failure(Error error, std::optional<HTTPURLResponse> response = std::nullopt) {
    return RequestResult(std::in_place_index<1>, std::move(error), std::move(response));
  }

  bool isSuccess() const { return outcome_.index() == 0; }
  bool isFailure() const { return outcome_.index() == 1; }

  /// The decoded value; only for a success.
  const T& value() const& { return std::get<0>(outcome_); }
  T& value() & { return std::get<0>(outcome_); }
  T&& value() && { return std::get<0>(std::move(outcome_)); }
  /// The value, or null for a failure.
  const T* valueIfSuccess() const { return std::get_if<0>(&outcome_); }

  /// The error; only for a failure.
  const Error& error() const { return std::get<1>(outcome_); }
  /// The error, or null for a success.
  const Error* errorIfFailure() const { return std::get_if<1>(&outcome_); }

  /// The HTTP response: always present for a success.
  const std::optional<HTTPURLResponse>& response() const { return response_; }
  /// The status code, or -1 without HTTP response.
  int statusCode() const { return response_ ? response_->statusCode : -1; }

 private:
  template <std::size_t I, class V>
  RequestResult(std::in_place_index_t<I> index, V&& v, std::optional<HTTPURLResponse> response)
      : outcome_(index, std::forward<V>(v)), response_(std::move(response)) {}

  std::variant<T, Error> outcome_;
  std::optional<HTTPURLResponse> response_;
};

}  // namespace tovik
