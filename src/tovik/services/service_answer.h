#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovik/model/geocode_res.h"
#include "tovik/model/json_codec.h"
#include "tovik/model/json_document.h"
#include "tovik/model/location_res.h"
#include "tovik/network/http_url_response.h"
#include "tovik/network/network_client.h"
#include "tovik/network/network_error.h"
#include "tovik/network/request_result.h"
#include "tovik/system/error.h"

namespace tovik {

/// The answer of a call that carries no payload: decoding it reads nothing, so any
/// well-formed JSON document decodes.
struct EmptyResponse {
  bool operator==(const EmptyResponse&) const = default;
};

/// How a parsed answer becomes a `T`: `decode` returns the value or throws (`DecodingError`
/// for a well-formed document of the wrong shape). Tests add their own answer types.
template <class T>
struct AnswerDecoding;

template <>
struct AnswerDecoding<std::shared_ptr<LocationRes>> {
  static std::shared_ptr<LocationRes> decode(const nlohmann::json& json) {
    return JsonCodec<LocationRes>::decode(json);
  }
};

template <>
struct AnswerDecoding<std::vector<std::shared_ptr<GeocodeRes>>> {
  static std::vector<std::shared_ptr<GeocodeRes>> decode(const nlohmann::json& json) { return decodeGeocodeList(json); }
};

template <>
struct AnswerDecoding<EmptyResponse> {
  static EmptyResponse decode(const nlohmann::json&) { return {}; }
};

/// Logs a body that did not decode: "解析错误：<reason>，原始数据：<body>", the body shown as
/// text only when it is UTF-8 ("无数据" otherwise) and cut, with a mark, past a few kilobytes.
void logDecodingFailure(std::string_view reason, std::string_view body);

/// Turns what came back for a request into its `RequestResult`; the first rule that applies
/// decides:
/// 1. `error` present: `networkError` wrapping it, with the response if any;
/// 2. no response: `invalidRequest`;
/// 3. status outside 200 to 299: `NetworkClient::statusError`; the body is not read;
/// 4. no data: `decodingFailed` (the transport gives no data for a body over its size
///    limit; a zero-byte body is data and goes on to 5);
/// 5. the body decodes as `T`: success; otherwise `logDecodingFailure` and `decodingFailed`.
/// Runs where the caller is: the service calls run it on the main thread.
template <class T>
RequestResult<T> handleResponse(std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                                std::optional<Error> error) {
  if (error) {
    return RequestResult<T>::failure(NetworkError::networkError(std::move(*error)), std::move(response));
  }
  if (!response) {
    return RequestResult<T>::failure(NetworkError::invalidRequest());
  }
  const int status = response->statusCode;
  if (status < 200 || status > 299) {
    return RequestResult<T>::failure(NetworkClient::statusError(status), std::move(response));
  }
  if (!data) {
    return RequestResult<T>::failure(NetworkError::decodingFailed(), std::move(response));
  }
  try {
    return RequestResult<T>::success(AnswerDecoding<T>::decode(parseJsonDocument(*data)), std::move(*response));
  } catch (const std::exception& e) {
    logDecodingFailure(e.what(), *data);
  }
  return RequestResult<T>::failure(NetworkError::decodingFailed(), std::move(response));
}

}  // namespace tovik
