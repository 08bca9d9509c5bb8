#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tovik/network/http_url_response.h"
#include "tovik/network/session_configuration.h"
#include "tovik/network/url_request.h"
#include "tovik/system/error.h"

namespace tovik {

/// The HTTP session under the network client: one worker thread drives a libcurl multi
/// handle, so requests run concurrently over kept-alive connections (HTTP/2 where the
/// server offers it over TLS). Redirects are not followed, answers are not decompressed,
/// certificates are always checked. A request is sent at most once: where libcurl would
/// silently send it again (a kept-alive connection that closed without answering), the
/// exchange fails instead.
class CurlSession {
 public:
  /// The answer header fields a response carries (any others are not collected).
  static constexpr std::array<std::string_view, 2> kAnswerHeaderNames{"Content-Type", "Retry-After"};

  /// What one exchange produced, called once. `data` is the body (possibly empty) when the
  /// exchange completed, none after a transport error or when the body exceeded the
  /// configured maximum; `response` is present once a status line arrived (with the fields
  /// of `kAnswerHeaderNames`, none after a transport error); `error` is a `TransportError`.
  using CompletionHandler =
      std::function<void(std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                         std::optional<Error> error)>;
  /// Where completion handlers run: the session hands it one work item per batch of
  /// exchanges that finished together, which calls their handlers in completion order.
  /// Without one, handlers run on the worker thread.
  using Dispatcher = std::function<void(std::function<void()> work)>;

  /// The worker thread starts with the first exchange; an exchange that finds no worker and
  /// cannot start one fails with a transport error, and the next one tries again.
  explicit CurlSession(SessionConfiguration configuration, Dispatcher dispatcher = nullptr);
  /// Stops and joins the worker; exchanges still in flight are dropped without a call, their
  /// handlers released on the calling thread.
  ~CurlSession();
  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

  /// Starts the exchange and returns at once. Safe from any thread.
  void dataTask(URLRequest request, CompletionHandler completionHandler);

  const SessionConfiguration& configuration() const;

  /// Seams for tests, process-wide; an empty member leaves its step alone.
  struct TestingHooks {
    /// Runs on the worker right after it has handed a batch to the dispatcher.
    std::function<void()> afterDispatch;
    /// Runs where the worker thread is about to start; may throw as `std::thread` does.
    std::function<void()> beforeWorkerStart;
  };
  static void setTestingHooks(TestingHooks hooks);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik
