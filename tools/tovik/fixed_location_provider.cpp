#include "tools/tovik/fixed_location_provider.h"

#include <chrono>

#include "tovik/runloop/main_queue.h"

namespace tovik::cli {

struct FixedLocationProvider::State {
  Location fix;
  FixedLocationProvider* owner = nullptr;  // cleared when the provider goes away
  unsigned run = 0;                        // a delivery of an earlier start is dropped
};

FixedLocationProvider::FixedLocationProvider(Location fix) : state_(std::make_shared<State>()) {
  state_->fix = fix;
  state_->owner = this;
  identify("fixed", true);
  watchSilence(false);
}

FixedLocationProvider::~FixedLocationProvider() { state_->owner = nullptr; }

AuthorizationStatus FixedLocationProvider::authorizationStatus() const {
  return AuthorizationStatus::authorizedAlways;
}

void FixedLocationProvider::startUpdates() {
  // Later, not now: a listener is still being added when its start runs.
  MainQueue::shared().async([weak = std::weak_ptr<State>(state_), run = ++state_->run] {
    const auto state = weak.lock();
    if (!state || !state->owner || state->run != run) {
      return;
    }
    Location fix = state->fix;
    fix.timestamp = std::chrono::system_clock::now();
    state->owner->deliver(fix);
  });
}

void FixedLocationProvider::stopUpdates() { ++state_->run; }

}  // namespace tovik::cli
