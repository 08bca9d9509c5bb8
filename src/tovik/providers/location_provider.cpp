#include "tovik/providers/location_provider.h"

#include <algorithm>

namespace tovik {

void LocationProvider::addListener(const std::shared_ptr<LocationProviderListener>& listener) {
  if (!listener) {
    return;
  }
  const bool known = std::any_of(listeners_.begin(), listeners_.end(),
                                 [&](const auto& weak) { return weak.lock() == listener; });
  if (!known) {
    listeners_.push_back(listener);
  }
  if (!started_) {
    started_ = true;
    startUpdates();
  }
}

void LocationProvider::removeListener(const LocationProviderListener* listener) {
  std::erase_if(listeners_, [&](const auto& weak) {
    const auto strong = weak.lock();
    return !strong || strong.get() == listener;
  });
  stopIfUnused();
}

bool LocationProvider::hasListeners() const {
  return std::any_of(listeners_.begin(), listeners_.end(),
                     [](const auto& weak) { return !weak.expired(); });
}

void LocationProvider::deliver(const Location& fix) {
  failure_.reset();
  Location location = fix;
  if (location.source.empty() && !sourceName_.empty()) {
    location.source = sourceName_;
    location.simulated = simulated_;
  }
  // Over a copy: a listener may remove itself, or others, while it is being called.
  const auto listeners = listeners_;
  for (const auto& weak : listeners) {
    if (const auto listener = weak.lock()) {
      listener->providerDidUpdateLocation(location);
    }
  }
  dropExpiredListeners();
}

void LocationProvider::enterFailure(const Error& error) {
  failure_ = error;
  fail(error);
}

void LocationProvider::fail(const Error& error) {
  const auto listeners = listeners_;
  for (const auto& weak : listeners) {
    if (const auto listener = weak.lock()) {
      listener->providerDidFail(error);
    }
  }
  dropExpiredListeners();
}

void LocationProvider::dropExpiredListeners() {
  std::erase_if(listeners_, [](const auto& weak) { return weak.expired(); });
  stopIfUnused();
}

void LocationProvider::stopIfUnused() {
  if (started_ && listeners_.empty()) {
    started_ = false;
    failure_.reset();
    stopUpdates();
  }
}

}  // namespace tovik
