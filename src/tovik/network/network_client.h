#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovik/model/json_codec.h"
#include "tovik/model/json_document.h"
#include "tovik/network/curl_session.h"
#include "tovik/network/http_url_response.h"
#include "tovik/network/network_error.h"
#include "tovik/network/request_result.h"
#include "tovik/network/session_configuration.h"
#include "tovik/network/url_request.h"
#include "tovik/system/error.h"

namespace tovik {

/// Turns a `URLRequest` into one HTTP exchange and the answer into a typed `RequestResult`,
/// delivered on the main thread. One process-wide instance, `shared()`, over one session.
class NetworkClient {
 public:
  /// What the transport handed over, delivered on the main thread.
  using RawCompletion = CurlSession::CompletionHandler;

  /// Domain of the error for an HTTP status outside 200 to 299; its code is the status.
  static constexpr std::string_view kStatusErrorDomain = "NetworkClient";

  /// The process-wide client, created on first use; it lives until the process ends, when
  /// requests still in flight are dropped without a call.
  static NetworkClient& shared();

  /// Sets the session's configuration. Takes effect only before the first `shared()`;
  /// afterwards it changes nothing and returns false.
  static bool configure(SessionConfiguration configuration);

  const SessionConfiguration& configuration() const { return session_.configuration(); }

  /// Starts the exchange and returns at once. `completion` is called exactly once, later, on
  /// the main thread, with the outcome decoded as `T` (see `decodeAnswer`).
  template <class T>
  void send(URLRequest request, std::function<void(RequestResult<T>)> completion) {
    sendRaw(std::move(request),
            [completion = std::move(completion)](std::optional<std::string> data,
                                                 std::optional<HTTPURLResponse> response,
                                                 std::optional<Error> error) {
              handleResponse<T>(std::move(data), std::move(response), std::move(error), completion);
            });
  }

  /// Starts the exchange; `completion` gets, on the main thread, what the transport handed
  /// over (see `CurlSession::CompletionHandler`).
  void sendRaw(URLRequest request, RawCompletion completion);

  /// Maps what the transport handed over to a `RequestResult` and calls `completion` with it
  /// before returning; the first rule that applies decides:
  /// 1. `error` present: `networkError` wrapping it, with the response if any;
  /// 2. no response: `invalidRequest`;
  /// 3. status outside 200 to 299: an error of `kStatusErrorDomain`, code = status, text
  ///    "请求失败，状态码: <status>"; the body is not read;
  /// 4. no data: `decodingFailed` (the transport gives no data for a body over the size
  ///    limit; a zero-byte body is data and goes on to 5);
  /// 5. the body decodes as `T`: success; otherwise one log line "解析错误：<reason>，原始数据：
  ///    <body, or 无数据 when not UTF-8>" and `decodingFailed`.
  template <class T>
  static void handleResponse(std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                             std::optional<Error> error, const std::function<void(RequestResult<T>)>& completion) {
    if (!completion) {
      return;
    }
    if (error) {
      completion(RequestResult<T>::failure(NetworkError::networkError(std::move(*error)), std::move(response)));
      return;
    }
    if (!response) {
      completion(RequestResult<T>::failure(NetworkError::invalidRequest()));
      return;
    }
    const int status = response->statusCode;
    if (status < 200 || status > 299) {
      completion(RequestResult<T>::failure(statusError(status), std::move(response)));
      return;
    }
    if (!data) {
      completion(RequestResult<T>::failure(NetworkError::decodingFailed(), std::move(response)));
      return;
    }
    std::optional<T> value;
    std::string reason;
    try {
      value.emplace(decodeAnswer<T>(parseJsonDocument(*data)));
    } catch (const std::exception& e) {
      reason = e.what();
    }
    if (value) {
      completion(RequestResult<T>::success(std::move(*value), std::move(*response)));
    } else {
      logDecodingFailure(reason, *data);
      completion(RequestResult<T>::failure(NetworkError::decodingFailed(), std::move(response)));
    }
  }

  /// The error for an HTTP status outside 200 to 299.
  static Error statusError(int statusCode);

  /// An answer as `T`: the geocode list, a shared result through its `JsonCodec`, or any
  /// other type whose `JsonCodec<T>::decode` returns a `T` (`EmptyResponse`).
  template <class T>
  static T decodeAnswer(const nlohmann::json& json) {
    if constexpr (std::is_same_v<T, std::vector<std::shared_ptr<GeocodeRes>>>) {
      return decodeGeocodeList(json);
    } else if constexpr (requires { typename T::element_type; }) {
      return JsonCodec<typename T::element_type>::decode(json);
    } else {
      return JsonCodec<T>::decode(json);
    }
  }

  ~NetworkClient();
  NetworkClient(const NetworkClient&) = delete;
  NetworkClient& operator=(const NetworkClient&) = delete;

 private:
  explicit NetworkClient(SessionConfiguration configuration);
  static void logDecodingFailure(std::string_view reason, const std::string& body);

  CurlSession session_;
};

}  // namespace tovik
