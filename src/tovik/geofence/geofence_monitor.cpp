#include "tovik/geofence/geofence_monitor.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tovik/geofence/fence_set.h"
#include "tovik/providers/location_provider.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/system/console.h"

namespace tovik {

// Listens to the attached source for the monitor, which it does not keep alive.
class GeofenceMonitor::SourceListener : public LocationProviderListener {
 public:
  explicit SourceListener(std::weak_ptr<GeofenceMonitor> monitor) : monitor_(std::move(monitor)) {}

  void providerDidUpdateLocation(const Location& location) override {
    if (const auto monitor = monitor_.lock()) monitor->evaluate(location);
  }
  void providerDidFail(const Error& error) override {
    if (const auto monitor = monitor_.lock()) monitor->sourceFailed(error);
  }

 private:
  const std::weak_ptr<GeofenceMonitor> monitor_;
};

struct GeofenceMonitor::Impl {
  std::shared_ptr<GeofenceDelegate> delegate;
  FenceSet fences;
  // The transitions of a fix go out from a buffer of their own, as a delegate may test another
  // fix meanwhile; this one is kept between fixes for its capacity.
  std::vector<FenceSet::Transition> spare;
  std::shared_ptr<LocationProvider> provider;
  std::shared_ptr<SourceListener> listener;
};

std::shared_ptr<GeofenceMonitor> GeofenceMonitor::create(std::shared_ptr<GeofenceDelegate> delegate) {
  auto monitor = std::make_shared<GeofenceMonitor>(PrivateTag());
  monitor->impl_->delegate = std::move(delegate);
  return monitor;
}

GeofenceMonitor::GeofenceMonitor(PrivateTag) : impl_(std::make_unique<Impl>()) {}

GeofenceMonitor::~GeofenceMonitor() { detach(); }

const std::shared_ptr<GeofenceDelegate>& GeofenceMonitor::delegate() const { return impl_->delegate; }

void GeofenceMonitor::setDelegate(std::shared_ptr<GeofenceDelegate> delegate) { impl_->delegate = std::move(delegate); }

bool GeofenceMonitor::addGeofence(const Geofence& fence) {
  if (const auto problem = fence.problem()) {
    sdkLog({"geofence", fence.id, "refused:", *problem});
    return false;
  }
  impl_->fences.dropExpired();
  impl_->fences.add(fence);
  return true;
}

bool GeofenceMonitor::removeGeofence(const std::string& id) { return impl_->fences.remove(id); }

void GeofenceMonitor::removeAllGeofences() { impl_->fences.clear(); }

std::size_t GeofenceMonitor::geofenceCount() const { return impl_->fences.size(); }

bool GeofenceMonitor::isInside(const std::string& id) const { return impl_->fences.isInside(id); }

void GeofenceMonitor::evaluate(const Location& fix) {
  if (!MainQueue::shared().isMainThread()) {
    MainQueue::shared().async([weak = weak_from_this(), fix] {
      if (const auto self = weak.lock()) self->evaluate(fix);
    });
    return;
  }
  if (!hasPosition(fix)) return;
  impl_->fences.dropExpired();
  std::vector<FenceSet::Transition> made = std::exchange(impl_->spare, {});
  impl_->fences.test(fix, made);
  // The delegate may let the monitor go, or remove fences, while it hears these.
  const auto self = made.empty() ? nullptr : shared_from_this();
  for (const FenceSet::Transition& transition : made) {
    const auto delegate = impl_->delegate;
    if (!delegate) break;
    const std::string* id = impl_->fences.idOf(transition);
    if (id == nullptr) continue;  // removed by an earlier callback
    const GeofenceEvent event{.id = *id, .transition = transition.transition, .location = fix, .time = fix.timestamp};
    delegate->onReceivedGeofenceEvent(event);
  }
  impl_->spare = std::move(made);
}

void GeofenceMonitor::attach(std::shared_ptr<LocationProvider> provider) {
  detach();
  if (!provider) return;
  impl_->listener = std::make_shared<SourceListener>(weak_from_this());
  impl_->provider = provider;
  provider->addListener(impl_->listener);
  if (const auto& failure = provider->currentFailure()) sourceFailed(*failure);
}

void GeofenceMonitor::detach() {
  const auto provider = std::exchange(impl_->provider, nullptr);
  const auto listener = std::exchange(impl_->listener, nullptr);
  if (provider) provider->removeListener(listener.get());
}

bool GeofenceMonitor::isAttached() const { return impl_->provider != nullptr; }

void GeofenceMonitor::sourceFailed(const Error& error) {
  if (const auto delegate = impl_->delegate) {
    const auto self = shared_from_this();
    delegate->onGeofenceSourceError(error);
  }
}

}  // namespace tovik
