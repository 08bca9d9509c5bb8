#pragma once

#include <memory>
#include <utility>
#include <variant>

#include "tovik/network/network_client.h"
#include "tovik/network/request_result.h"
#include "tovik/system/console.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/services/delivery_rules.h"
#include "tovik/services/service_caller.h"
#include "tovik/services/service_request.h"

namespace tovik {

/// The road every service call takes once its precondition holds: build the request, log
/// it, send it, and deliver the outcome to the recipient on the main thread.
///
/// The delivery takes two turns of the main queue. The network client's completion runs in
/// the first; it resolves the caller's holder (a weakly held one that is gone ends
/// everything there: no log line, no callback) and posts the delivery, which keeps the
/// holder alive until it has run. A request that cannot even be built is delivered the
/// same way, so no outcome ever arrives inside the call.
template <class T>
class ServiceCall {
 public:
  static void start(const ServiceCaller& caller, const ServiceRequest& request, DeliveryRules<T> rules,
                    Recipient<T> recipient) {
    auto shared = std::make_shared<const Delivery>(Delivery{std::move(rules), std::move(recipient)});
    auto completion = [held = HolderRef(caller.holder, shared->rules.hold), shared](RequestResult<T> result) {
      auto owner = held.lock();
      if (!owner) {
        return;
      }
      MainQueue::shared().async([owner = std::move(owner), shared, result = std::move(result)] {
        deliver(*shared, result);
      });
    };

    auto built = request.builder(caller.baseURL).makeURLRequest();
    if (auto* error = std::get_if<Error>(&built)) {
      completion(RequestResult<T>::failure(std::move(*error)));
      return;
    }
    auto& urlRequest = std::get<URLRequest>(built);
    shared->rules.logRequest(urlRequest);
    NetworkClient::shared().send<T>(std::move(urlRequest), std::move(completion));
  }

 private:
  struct Delivery {
    DeliveryRules<T> rules;
    Recipient<T> recipient;
  };

  /// The caller's holder as the request in flight keeps it.
  class HolderRef {
   public:
    HolderRef(const std::weak_ptr<void>& holder, CallerHold hold) {
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

  static void deliver(const Delivery& delivery, const RequestResult<T>& result) {
    const auto& rules = delivery.rules;
    const int status = result.statusCode();
    if (const Error* error = result.errorIfFailure()) {
      sdkLog(rules.failureLine(*error, status));
      delivery.recipient.onError(error->localizedDescription());
      return;
    }
    const T& value = result.value();
    if (rules.order == SuccessOrder::logThenCallback) {
      sdkLog(rules.successLine(value, status));
    }
    rules.deliverSuccess(delivery.recipient, value, status);
    if (rules.order == SuccessOrder::callbackThenLog) {
      sdkLog(rules.successLine(value, status));
    }
  }
};

}  // namespace tovik
