#pragma once

#include <memory>
#include <utility>
#include <variant>

#include "tovik/client/location_delegate.h"
#include "tovik/platform/console.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/network/network_client.h"
#include "tovik/network/request_result.h"
#include "tovik/platform/main_queue.h"
#include "tovik/services/delivery_rules.h"
#include "tovik/services/service_request.h"

namespace tovik {

/// The road every service call takes once its precondition holds: build the request, log
/// it, send it, and deliver the outcome to the facade's delegate on the main thread.
///
/// The delivery takes two turns of the main queue. The network client's completion runs in
/// the first; it resolves the facade (a weakly held facade that is gone ends everything
/// there: no log line, no callback) and posts the delivery, which keeps the facade alive
/// until it has run. A request that cannot even be built is delivered the same way, so no
/// outcome ever arrives inside the call. The delegate is read when the delivery runs, so a
/// delegate replaced meanwhile hears the outcome.
template <class T>
class ServiceCall {
 public:
  static void start(TkClientLocation& facade, const ServiceRequest& request, DeliveryRules<T> rules) {
    auto shared = std::make_shared<const DeliveryRules<T>>(std::move(rules));
    auto completion = [held = FacadeRef(facade, shared->hold), shared](RequestResult<T> result) {
      auto owner = held.lock();
      if (!owner) {
        return;
      }
      MainQueue::shared().async([owner = std::move(owner), shared, result = std::move(result)] {
        deliver(*owner, *shared, result);
      });
    };

    auto built = request.builder(facade.serviceURL).makeURLRequest();
    if (auto* error = std::get_if<Error>(&built)) {
      completion(RequestResult<T>::failure(std::move(*error)));
      return;
    }
    auto& urlRequest = std::get<URLRequest>(built);
    shared->logRequest(urlRequest);
    NetworkClient::shared().send<T>(std::move(urlRequest), std::move(completion));
  }

 private:
  /// The facade as the request in flight holds it.
  class FacadeRef {
   public:
    FacadeRef(TkClientLocation& facade, FacadeHold hold) {
      if (hold == FacadeHold::strong) {
        ref_ = facade.weak_from_this().lock();
      } else {
        ref_ = facade.weak_from_this();
      }
    }

    std::shared_ptr<TkClientLocation> lock() const {
      if (const auto* strong = std::get_if<std::shared_ptr<TkClientLocation>>(&ref_)) {
        return *strong;
      }
      return std::get<std::weak_ptr<TkClientLocation>>(ref_).lock();
    }

   private:
    std::variant<std::weak_ptr<TkClientLocation>, std::shared_ptr<TkClientLocation>> ref_;
  };

  static void deliver(TkClientLocation& facade, const DeliveryRules<T>& rules, const RequestResult<T>& result) {
    const int status = result.statusCode();
    // A local copy: the callback may replace or drop the facade's delegate.
    const std::shared_ptr<LocationDelegate> delegate = facade.callDelegate;
    if (const Error* error = result.errorIfFailure()) {
      sdkLog(rules.failureLine(*error, status));
      if (delegate) {
        delegate->onLocationErrorWithMsg(error->localizedDescription());
      }
      return;
    }
    const T& value = result.value();
    if (rules.order == SuccessOrder::logThenCallback) {
      sdkLog(rules.successLine(value, status));
    }
    if (delegate) {
      rules.deliverSuccess(*delegate, value, status);
    }
    if (rules.order == SuccessOrder::callbackThenLog) {
      sdkLog(rules.successLine(value, status));
    }
  }
};

}  // namespace tovik
