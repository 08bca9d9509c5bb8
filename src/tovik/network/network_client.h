#pragma once

#include <string_view>

#include "tovik/network/curl_session.h"
#include "tovik/network/session_configuration.h"
#include "tovik/network/url_request.h"
#include "tovik/system/error.h"

namespace tovik {

/// Turns a `URLRequest` into one HTTP exchange and hands back, on the main thread, what came
/// back: the body, the response (status and the header fields the kit reads) or the
/// transport's error. What the body means is the caller's business. One process-wide
/// instance, `shared()`, over one session.
class NetworkClient {
 public:
  /// What the transport handed over, delivered on the main thread.
  using Completion = CurlSession::CompletionHandler;

  /// Domain of the error for an HTTP status outside 200 to 299; its code is the status.
  static constexpr std::string_view kStatusErrorDomain = "NetworkClient";

  /// The process-wide client, created on first use; it lives until the process ends, when
  /// requests still in flight are dropped without a call.
  static NetworkClient& shared();

  /// Sets the session's configuration. Takes effect only before the first `shared()`;
  /// afterwards it changes nothing and returns false.
  static bool configure(SessionConfiguration configuration);

  const SessionConfiguration& configuration() const { return session_.configuration(); }

  /// Starts the exchange and returns at once; `completion` is called exactly once, later, on
  /// the main thread (see `CurlSession::CompletionHandler`). The request reaches the service
  /// at most once.
  void send(URLRequest request, Completion completion);

  /// The error for an HTTP status outside 200 to 299: domain `kStatusErrorDomain`, code =
  /// status, text "请求失败，状态码: <status>".
  static Error statusError(int statusCode);

  ~NetworkClient();
  NetworkClient(const NetworkClient&) = delete;
  NetworkClient& operator=(const NetworkClient&) = delete;

 private:
  explicit NetworkClient(SessionConfiguration configuration);

  CurlSession session_;
};

}  // namespace tovik
