#pragma once

#include <functional>
#include <string>

#include "tovik/platform/error.h"

namespace tovik {

class LocationDelegate;
struct URLRequest;

/// How a request in flight refers to its facade.
enum class FacadeHold {
  /// The facade may go away meanwhile; its outcome then reaches nobody.
  weak,
  /// The facade is kept until the outcome has been delivered.
  strong,
};

/// Whether a success is logged before or after the delegate hears of it.
enum class SuccessOrder { logThenCallback, callbackThenLog };

/// Everything in which the five service calls differ once their request is built: what they
/// log, how they hold the facade and which delegate member hears of a success. `T` is the
/// decoded answer.
template <class T>
struct DeliveryRules {
  FacadeHold hold = FacadeHold::weak;
  SuccessOrder order = SuccessOrder::logThenCallback;
  /// Logs the request about to be sent.
  std::function<void(const URLRequest&)> logRequest;
  /// The log line of a failure with `status` (-1 without HTTP response).
  std::function<std::string(const Error&, int status)> failureLine;
  /// The log line of a success.
  std::function<std::string(const T&, int status)> successLine;
  /// Hands a success to the delegate.
  std::function<void(LocationDelegate&, const T&, int status)> deliverSuccess;
};

}  // namespace tovik
