#include "tovik/providers/location_provider.h"

#include <algorithm>
#include <utility>

#include "tovik/providers/source_watchdog.h"
#include "tovik/runloop/timer.h"

namespace tovik {

namespace {

// The finer of two wishes where zero or negative means "the finest there is".
double finer(double a, double b) { return a <= 0.0 || b <= 0.0 ? -1.0 : std::min(a, b); }

}  // namespace

void LocationProviderListener::providerDidChangeAvailability(const LocationAvailability&) {}

UpdateRequirements LocationProviderListener::requirements() const { return {}; }

struct LocationProvider::Watch {
  LocationProvider* owner = nullptr;  // cleared when the provider goes
  SourceWatchdog watchdog;
  std::shared_ptr<Timer> timer;  // pending while the watchdog waits for a deadline

  void cancel() {
    if (const auto pending = std::exchange(timer, nullptr)) {
      pending->invalidate();
    }
  }
};

LocationProvider::LocationProvider() : watch_(std::make_shared<Watch>()) { watch_->owner = this; }

LocationProvider::~LocationProvider() {
  watch_->owner = nullptr;
  watch_->cancel();
}

void LocationProvider::addListener(const std::shared_ptr<LocationProviderListener>& listener) {
  if (!listener) {
    return;
  }
  const bool known = std::any_of(listeners_.begin(), listeners_.end(),
                                 [&](const auto& weak) { return weak.lock() == listener; });
  if (!known) {
    listeners_.push_back(listener);
  }
  // Before a start, so that the source starts with what its listeners ask for.
  updateRequirements();
  if (!started_) {
    started_ = true;
    watch_->watchdog.start(SourceWatchdog::Clock::now());
    armWatch();
    startUpdates();
  }
}

void LocationProvider::removeListener(const LocationProviderListener* listener) {
  std::erase_if(listeners_, [&](const auto& weak) {
    const auto strong = weak.lock();
    return !strong || strong.get() == listener;
  });
  stopIfUnused();
  updateRequirements();
}

bool LocationProvider::hasListeners() const {
  return std::any_of(listeners_.begin(), listeners_.end(),
                     [](const auto& weak) { return !weak.expired(); });
}

std::optional<Location> LocationProvider::lastLocation(std::chrono::duration<double> maxAge) const {
  if (!lastFix_ || !(ageOf(*lastFix_) <= maxAge)) {
    return std::nullopt;
  }
  return lastFix_;
}

void LocationProvider::listenerRequirementsChanged() { updateRequirements(); }

void LocationProvider::updateRequirements() {
  UpdateRequirements combined;
  bool first = true;
  for (const auto& weak : listeners_) {
    if (const auto listener = weak.lock()) {
      const UpdateRequirements wanted = listener->requirements();
      combined = first ? wanted
                       : UpdateRequirements{.desiredAccuracy = finer(combined.desiredAccuracy, wanted.desiredAccuracy),
                                            .distanceFilter = finer(combined.distanceFilter, wanted.distanceFilter)};
      first = false;
    }
  }
  if (combined != requirements_) {
    requirements_ = combined;
    applyRequirements(requirements_);
  }
}

void LocationProvider::deliver(const Location& fix) {
  failure_.reset();
  Location location = fix;
  if (location.source.empty() && !sourceName_.empty()) {
    location.source = sourceName_;
    location.simulated = simulated_;
  }
  const auto now = SourceWatchdog::Clock::now();
  if (location.receivedAt == SourceWatchdog::Clock::time_point{}) {
    location.receivedAt = now;
  }
  // The application hears that fixes flow again before it hears the fix, with the age the
  // last fix had reached: how long the source was away.
  if (unavailable_) {
    changeAvailability(true, LocationAvailability::Reason::resumed, location.source);
  }
  if (hasPosition(location)) {
    lastFix_ = location;
  }
  watch_->watchdog.fixArrived(now);
  armWatch();
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
  // Before the error: a session that the error ends still hears why the source went away.
  if (!unavailable_) {
    changeAvailability(false, LocationAvailability::Reason::failed, sourceName_);
  }
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

void LocationProvider::relayAvailability(const LocationAvailability& availability) {
  if (availability.available == !unavailable_) {
    return;
  }
  unavailable_ = availability.available ? std::nullopt : std::optional(availability);
  const auto listeners = listeners_;
  for (const auto& weak : listeners) {
    if (const auto listener = weak.lock()) {
      listener->providerDidChangeAvailability(availability);
    }
  }
  dropExpiredListeners();
}

void LocationProvider::changeAvailability(bool available, LocationAvailability::Reason reason,
                                          const std::string& source) {
  LocationAvailability availability{.available = available, .reason = reason, .source = source};
  if (lastFix_) {
    availability.lastFixAge = ageOf(*lastFix_);
  }
  if (watchSilence_) {
    availability.expectedInterval = watch_->watchdog.expectedInterval();
  }
  relayAvailability(availability);
}

// One timer, set again for the new deadline at each fix: a source that keeps its rate never
// wakes the main thread for it (the cancelled wait completes in the same turn as the fix).
void LocationProvider::armWatch() {
  watch_->cancel();
  if (!started_ || !watchSilence_ || unavailable_) {
    return;
  }
  const auto deadline = watch_->watchdog.deadline();
  const auto wait = deadline - SourceWatchdog::Clock::now();
  watch_->timer = Timer::scheduledTimer(std::chrono::duration<double>(wait).count(), false,
                                        [weak = std::weak_ptr<Watch>(watch_)](Timer&) {
                                          const auto watch = weak.lock();
                                          if (watch && watch->owner) {
                                            watch->owner->onWatchFired();
                                          }
                                        });
}

void LocationProvider::onWatchFired() {
  watch_->timer = nullptr;
  if (!started_ || !watchSilence_ || unavailable_) {
    return;
  }
  if (SourceWatchdog::Clock::now() >= watch_->watchdog.deadline()) {
    changeAvailability(false, LocationAvailability::Reason::silent, sourceName_);
  } else {
    armWatch();
  }
}

void LocationProvider::dropExpiredListeners() {
  if (std::erase_if(listeners_, [](const auto& weak) { return weak.expired(); }) > 0) {
    stopIfUnused();
    updateRequirements();
  }
}

void LocationProvider::stopIfUnused() {
  if (started_ && listeners_.empty()) {
    started_ = false;
    failure_.reset();
    unavailable_.reset();
    watch_->cancel();
    stopUpdates();
  }
}

}  // namespace tovik
