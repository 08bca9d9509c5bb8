#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovik/network/network_client.h"
#include "tovik/network/request_builder.h"
#include "tovik/network/request_result.h"
#include "tovik/requests/service_endpoint.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/services/service_answer.h"
#include "tovik/services/retry_budget.h"
#include "tovik/services/service_failure.h"
#include "tovik/runloop/timer.h"
#include "tovik/system/console.h"
#include "tovik/system/error.h"

namespace tovik {

/// Who makes a service call: the base address its requests go to and the object the outcome
/// belongs to, held as the call's endpoint says; and how often a failed call may be sent again
/// (`ServicePolicy::retries`), within `budget`.
struct ServiceCaller {
  std::string baseURL;
  std::weak_ptr<void> holder;
  int retries = 0;
  std::shared_ptr<RetryBudget> budget{};
};

/// Where a call's outcome goes: exactly one of the two, once, on the main thread, while the
/// holder is still there (the call keeps it alive through the delivery).
template <class T>
struct Recipient {
  std::function<void(const T& answer)> onResult;
  /// The failure; its `message` is the text the specified error callback hears.
  std::function<void(const TkError& error)> onError;
};

/// The road every service call takes once its precondition holds, driven by its endpoint's
/// row: build the request, log it, send it, decode the answer on the main thread and deliver
/// the outcome to the recipient.
///
/// The delivery takes two turns of the main queue. The answer is decoded in the first, which
/// then resolves the caller's holder (a weakly held one that is gone ends everything there:
/// no log line, no callback) and posts the delivery, which keeps the holder alive until it
/// has run. A request that cannot even be built is delivered the same way, so no outcome ever
/// arrives inside the call.
class ServiceCall {
 public:
  /// `arguments` fill the endpoint's argument items in order; `body` is sent as JSON.
  template <class T>
  static void start(const ServiceEndpoint& endpoint, const ServiceCaller& caller, std::vector<std::string> arguments,
                    std::optional<nlohmann::json> body, Recipient<T> recipient) {
    auto exchange = std::make_shared<Exchange<T>>(endpoint, caller, std::move(recipient));
    // A retried upload must be recognisable as the same one.
    const auto key = caller.retries > 0 ? idempotencyKey(endpoint, body) : std::nullopt;
    RequestBuilder described = builder(endpoint, caller.baseURL, arguments, std::move(body));
    if (key) {
      described.headers.emplace("Idempotency-Key", *key);
    }
    auto built = described.makeURLRequest();
    if (auto* error = std::get_if<Error>(&built)) {
      exchange->finish(RequestResult<T>::failure(std::move(*error)));
      return;
    }
    exchange->request = std::move(std::get<URLRequest>(built));
    logRequest(endpoint, exchange->request);
    send(std::move(exchange));
  }

  /// The request description of a call; reads the process-wide key now.
  static RequestBuilder builder(const ServiceEndpoint& endpoint, std::string_view serviceURL,
                                const std::vector<std::string>& arguments, std::optional<nlohmann::json> body);

  /// `serviceURL` followed by `path`; one trailing "/" of `serviceURL` is dropped so that
  /// "http://host/" and "http://host" name the same endpoint.
  static std::string endpointURL(std::string_view serviceURL, std::string_view path);

  /// Seconds a call may take: `kRequestTimeoutInterval`, unless a test has shortened it.
  static double timeoutInterval();
  /// Replaces the time-out of every later call in the process (tests only); none restores it.
  static void setTimeoutIntervalForTesting(std::optional<double> seconds);

 private:
  /// The caller's holder as the request in flight keeps it.
  class Holder {
   public:
    Holder(const std::weak_ptr<void>& holder, CallerHold hold) {
      if (hold == CallerHold::strong) {
        ref_ = holder.lock();
      } else {
        ref_ = holder;
      }
    }
    std::shared_ptr<void> lock() const {
      if (const auto* strong = std::get_if<std::shared_ptr<void>>(&ref_)) {
        return *strong;
      }
      return std::get<std::weak_ptr<void>>(ref_).lock();
    }

   private:
    std::variant<std::weak_ptr<void>, std::shared_ptr<void>> ref_;
  };

  /// One call, over all the requests it sends.
  template <class T>
  struct Exchange {
    Exchange(const ServiceEndpoint& endpoint, const ServiceCaller& caller, Recipient<T> recipient)
        : endpoint(endpoint),
          held(caller.holder, endpoint.hold),
          recipient(std::move(recipient)),
          retries(caller.retries),
          budget(caller.budget) {}

    /// Hands the outcome to the main queue for delivery, unless a weakly held caller is gone.
    void finish(RequestResult<T> result) {
      auto owner = held.lock();
      if (!owner) {
        return;
      }
      MainQueue::shared().async([&endpoint = endpoint, owner = std::move(owner), recipient = std::move(recipient),
                                 result = std::move(result), attempts = attempts] {
        deliver(endpoint, recipient, result, attempts);
      });
    }

    const ServiceEndpoint& endpoint;
    Holder held;
    Recipient<T> recipient;
    const int retries;
    const std::shared_ptr<RetryBudget> budget;
    URLRequest request;
    int attempts = 0;
  };

  /// Sends the exchange's request once more; a failure worth another try (see `retryWait`)
  /// comes back here after its wait, anything else is finished.
  template <class T>
  static void send(std::shared_ptr<Exchange<T>> exchange) {
    ++exchange->attempts;
    // Only a call that may be retried keeps its request for the next attempt.
    URLRequest request = exchange->retries > 0 ? exchange->request : std::move(exchange->request);
    NetworkClient::shared().send(
        std::move(request), [exchange = std::move(exchange)](std::optional<std::string> data,
                                                             std::optional<HTTPURLResponse> response,
                                                             std::optional<Error> error) mutable {
          auto result = handleResponse<T>(std::move(data), std::move(response), std::move(error));
          const auto wait = exchange->retries > 0 && exchange->held.lock()
                                ? retryWait(result.errorIfFailure(), result.response(), exchange->attempts,
                                            exchange->retries, exchange->budget.get())
                                : std::nullopt;
          if (!wait) {
            exchange->finish(std::move(result));
            return;
          }
          logRetry(*wait, exchange->attempts);
          Timer::scheduledTimer(*wait, false, [exchange](Timer&) { send(exchange); });
        });
  }

  /// Seconds to wait before sending a failed call's request again, or none when it is not
  /// worth it: only a transport failure before any answer, or 429, 502, 503, 504; not after
  /// `retries` retries; not when the service asks for a wait beyond 30 s; not beyond the
  /// budget (which also hears of each answer).
  static std::optional<double> retryWait(const Error* error, const std::optional<HTTPURLResponse>& response,
                                         int attempts, int retries, RetryBudget* budget);
  static std::optional<std::string> idempotencyKey(const ServiceEndpoint& endpoint,
                                                   const std::optional<nlohmann::json>& body);

  static void logRequest(const ServiceEndpoint& endpoint, const URLRequest& request);
  static void logRetry(double wait, int attempt);
  static std::string failureLine(const ServiceEndpoint& endpoint, const Error& error, int status);
  static std::string successLine(const ServiceEndpoint& endpoint, std::size_t results, int status);

  template <class T>
  static std::size_t resultCount(const T& value) {
    if constexpr (requires { value.size(); }) {
      return value.size();
    } else {
      return 1;
    }
  }

  template <class T>
  static void deliver(const ServiceEndpoint& endpoint, const Recipient<T>& recipient, const RequestResult<T>& result,
                      int attempts) {
    const int status = result.statusCode();
    if (const Error* error = result.errorIfFailure()) {
      sdkLog(failureLine(endpoint, *error, status));
      recipient.onError(typedFailure(endpoint.call, *error, result.response(), attempts));
      return;
    }
    const std::string line = successLine(endpoint, resultCount(result.value()), status);
    if (endpoint.order == SuccessOrder::logThenCallback) {
      sdkLog(line);
    }
    if (endpoint.success == SuccessRule::only200 && status != 200) {
      recipient.onError(refusedStatus(endpoint.call, status, attempts));
    } else {
      recipient.onResult(result.value());
    }
    if (endpoint.order == SuccessOrder::callbackThenLog) {
      sdkLog(line);
    }
  }
};

}  // namespace tovik
