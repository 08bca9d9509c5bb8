#include "tovik/platform/unavailable_location_provider.h"

#include "tovik/platform/main_queue.h"

namespace tovik {

struct UnavailableLocationProvider::State {
  explicit State(Error error) : error(std::move(error)) {}
  Error error;
  UnavailableLocationProvider* owner = nullptr;  // cleared when the provider goes away
  unsigned run = 0;                              // which start a posted report belongs to
  bool updating = false;
};

UnavailableLocationProvider::UnavailableLocationProvider(Error error)
    : state_(std::make_shared<State>(std::move(error))) {
  state_->owner = this;
}

UnavailableLocationProvider::~UnavailableLocationProvider() { state_->owner = nullptr; }

AuthorizationStatus UnavailableLocationProvider::authorizationStatus() const {
  return AuthorizationStatus::authorizedAlways;
}

void UnavailableLocationProvider::startUpdates() {
  state_->updating = true;
  const unsigned run = ++state_->run;
  MainQueue::shared().async([weak = std::weak_ptr<State>(state_), run] {
    const auto state = weak.lock();
    if (state && state->owner && state->updating && state->run == run) {
      state->owner->fail(state->error);
    }
  });
}

void UnavailableLocationProvider::stopUpdates() { state_->updating = false; }

}  // namespace tovik
