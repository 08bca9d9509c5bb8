#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tovik {

/// Who makes a service call: the base address its requests go to and the object the outcome
/// belongs to. Each call decides whether it keeps `holder` only weakly while in flight (its
/// outcome is then dropped once the holder is gone) or strongly until the outcome has been
/// delivered.
struct ServiceCaller {
  std::string baseURL;
  std::weak_ptr<void> holder;
};

/// Where a call's outcome goes: exactly one of the two, once, on the main thread, while the
/// holder is still there (the call keeps it alive through the delivery).
template <class T>
struct Recipient {
  std::function<void(const T& answer)> onResult;
  std::function<void(const std::string& message)> onError;
};

}  // namespace tovik
