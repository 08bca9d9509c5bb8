#include "tovik/providers/location_manager.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

#include "tovik/system/earth.h"
#include "tovik/providers/location_manager_probe.h"
#include "tovik/providers/location_provider.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/runloop/timer.h"

namespace tovik {

namespace {

// Great-circle distance on the kit's sphere: ample for a distance filter of a few metres.
double haversineMetres(const Coordinate& a, const Coordinate& b) {
  constexpr double kRadians = std::numbers::pi / 180.0;
  const double dLat = (b.latitude - a.latitude) * kRadians;
  const double dLon = (b.longitude - a.longitude) * kRadians;
  const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(a.latitude * kRadians) * std::cos(b.latitude * kRadians) *
                       std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2.0 * kEarthRadius * std::asin(std::sqrt(std::min(1.0, h)));
}

Error timedOutError() {
  return Error(LocationManager::kErrorDomain, LocationManager::kErrorLocationTimedOut,
               "定位超时，未获取到位置");
}

}  // namespace

struct LocationManager::Impl : std::enable_shared_from_this<Impl> {
  // The manager's subscription to its provider; forwards to the manager while it lives.
  class Listener : public LocationProviderListener {
   public:
    explicit Listener(std::weak_ptr<Impl> impl) : impl_(std::move(impl)) {}
    void providerDidUpdateLocation(const Location& location) override {
      if (const auto impl = impl_.lock()) {
        impl->onLocation(location);
      }
    }
    void providerDidFail(const Error& error) override {
      if (const auto impl = impl_.lock()) {
        impl->onError(error);
      }
    }
    void providerDidChangeAvailability(const LocationAvailability& availability) override {
      if (const auto impl = impl_.lock()) {
        impl->onAvailability(availability);
      }
    }
    UpdateRequirements requirements() const override {
      const auto impl = impl_.lock();
      return impl ? UpdateRequirements{.desiredAccuracy = impl->desiredAccuracy, .distanceFilter = impl->distanceFilter}
                  : UpdateRequirements{};
    }

   private:
    std::weak_ptr<Impl> impl_;
  };

  explicit Impl(LocationManager* owner) : owner(owner) {}

  LocationManager* owner;  // null once the manager is gone
  double distanceFilter = -1.0;
  double desiredAccuracy = kLocationAccuracyBest;
  bool pausesAutomatically = true;
  bool allowsBackground = false;
  double requestTimeout = kRequestLocationTimeout;
  std::weak_ptr<LocationManagerDelegate> delegate;

  std::shared_ptr<Listener> listener;
  std::shared_ptr<LocationProvider> provider;  // set while subscribed
  bool updating = false;
  bool requesting = false;
  std::shared_ptr<Timer> requestTimer;
  std::optional<Coordinate> lastDelivered;

  void subscribe() {
    if (provider) {
      return;
    }
    if (!listener) {
      listener = std::make_shared<Listener>(weak_from_this());
    }
    provider = LocationServices::provider();
    provider->addListener(listener);
  }

  // A source in a spell of failures, or of silence, reports it once; a request that starts
  // during it still hears it, one turn later like any provider report: the unavailability
  // first, then the error, in the order the source gave them.
  void reportCurrentState() {
    if (!provider) {
      return;
    }
    if (const auto& unavailable = provider->currentUnavailability()) {
      MainQueue::shared().async([weak = weak_from_this(), availability = *unavailable] {
        if (const auto impl = weak.lock()) {
          impl->onAvailability(availability);
        }
      });
    }
    if (const auto& failure = provider->currentFailure()) {
      MainQueue::shared().async([weak = weak_from_this(), error = *failure] {
        if (const auto impl = weak.lock()) {
          impl->onError(error);
        }
      });
    }
  }

  // The provider combines what its managers ask for.
  void requirementsChanged() {
    if (provider) {
      provider->listenerRequirementsChanged();
    }
  }

  void unsubscribe() {
    if (const auto old = std::exchange(provider, nullptr)) {
      old->removeListener(listener.get());
    }
  }

  void endRequest() {
    requesting = false;
    if (const auto timer = std::exchange(requestTimer, nullptr)) {
      timer->invalidate();
    }
    if (!updating) {
      unsubscribe();
    }
  }

  bool passesDistanceFilter(const Location& location) const {
    return !lastDelivered || distanceFilter <= 0.0 ||
           haversineMetres(*lastDelivered, location.coordinate) >= distanceFilter;
  }

  void onLocation(const Location& location) {
    if (!owner) {
      return;
    }
    bool deliver = false;
    if (requesting) {
      endRequest();
      deliver = true;
    } else if (updating) {
      deliver = passesDistanceFilter(location);
    }
    if (!deliver) {
      return;
    }
    if (updating) {
      lastDelivered = location.coordinate;
    }
    // State is settled before the delegate runs: it may start, stop or destroy the manager.
    if (const auto d = delegate.lock()) {
      d->didUpdateLocations(*owner, {location});
    }
  }

  void onError(const Error& error) {
    if (!owner || (!requesting && !updating)) {
      return;
    }
    if (requesting) {
      endRequest();
    }
    if (const auto d = delegate.lock()) {
      d->didFailWithError(*owner, error);
    }
  }

  void onAvailability(const LocationAvailability& availability) {
    if (!owner || (!requesting && !updating)) {
      return;
    }
    if (const auto d = delegate.lock()) {
      d->didChangeAvailability(*owner, availability);
    }
  }

  void onRequestTimedOut() {
    if (!owner || !requesting) {
      return;
    }
    requestTimer = nullptr;  // it has fired
    endRequest();
    if (const auto d = delegate.lock()) {
      d->didFailWithError(*owner, timedOutError());
    }
  }
};

LocationManager::LocationManager() : impl_(std::make_shared<Impl>(this)) {}

LocationManager::~LocationManager() {
  impl_->owner = nullptr;
  impl_->updating = false;
  impl_->endRequest();
}

void LocationManager::setDistanceFilter(double metres) {
  impl_->distanceFilter = metres;
  impl_->requirementsChanged();
}
double LocationManager::distanceFilter() const { return impl_->distanceFilter; }
void LocationManager::setDesiredAccuracy(double metres) {
  impl_->desiredAccuracy = metres;
  impl_->requirementsChanged();
}
double LocationManager::desiredAccuracy() const { return impl_->desiredAccuracy; }
void LocationManager::setDelegate(std::weak_ptr<LocationManagerDelegate> delegate) {
  impl_->delegate = std::move(delegate);
}
void LocationManager::setPausesLocationUpdatesAutomatically(bool pauses) {
  impl_->pausesAutomatically = pauses;
}
bool LocationManager::pausesLocationUpdatesAutomatically() const { return impl_->pausesAutomatically; }
void LocationManager::setAllowsBackgroundLocationUpdates(bool allows) { impl_->allowsBackground = allows; }
bool LocationManager::allowsBackgroundLocationUpdates() const { return impl_->allowsBackground; }

void LocationManager::requestWhenInUseAuthorization() {
  LocationServices::provider()->requestWhenInUseAuthorization();
}

void LocationManager::requestAlwaysAuthorization() { LocationServices::provider()->requestAlwaysAuthorization(); }

void LocationManager::startUpdatingLocation() {
  if (!impl_->updating) {
    impl_->updating = true;
    impl_->lastDelivered.reset();
  }
  impl_->subscribe();
  impl_->reportCurrentState();
}

void LocationManager::stopUpdatingLocation() {
  impl_->updating = false;
  impl_->lastDelivered.reset();
  impl_->endRequest();
}

void LocationManager::requestLocation() {
  impl_->requesting = true;
  if (!impl_->requestTimer) {
    impl_->requestTimer = Timer::scheduledTimer(
        impl_->requestTimeout, false, [weak = std::weak_ptr<Impl>(impl_)](Timer&) {
          if (const auto impl = weak.lock()) {
            impl->onRequestTimedOut();
          }
        });
  }
  impl_->subscribe();
  impl_->reportCurrentState();
}

void LocationManagerProbe::setRequestLocationTimeout(LocationManager& manager, double seconds) {
  manager.impl_->requestTimeout = seconds;
}

AuthorizationStatus LocationManager::authorizationStatus() {
  return LocationServices::provider()->authorizationStatus();
}

}  // namespace tovik
