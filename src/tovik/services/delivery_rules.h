#pragma once

#include <functional>
#include <string>

#include "tovik/system/error.h"
#include "tovik/services/service_caller.h"

namespace tovik {

struct URLRequest;

/// How a request in flight refers to its caller's holder.
enum class CallerHold {
  /// The holder may go away meanwhile; its outcome then reaches nobody.
  weak,
  /// The holder is kept until the outcome has been delivered.
  strong,
};

/// Whether a success is logged before or after the delegate hears of it.
enum class SuccessOrder { logThenCallback, callbackThenLog };

/// Everything in which the five service calls differ once their request is built: what they
/// log, how they hold their caller and how a success reaches the recipient. `T` is the
/// decoded answer.
template <class T>
struct DeliveryRules {
  CallerHold hold = CallerHold::weak;
  SuccessOrder order = SuccessOrder::logThenCallback;
  /// Logs the request about to be sent.
  std::function<void(const URLRequest&)> logRequest;
  /// The log line of a failure with `status` (-1 without HTTP response).
  std::function<std::string(const Error&, int status)> failureLine;
  /// The log line of a success.
  std::function<std::string(const T&, int status)> successLine;
  /// Hands a success to the recipient.
  std::function<void(const Recipient<T>&, const T&, int status)> deliverSuccess;
};

}  // namespace tovik
