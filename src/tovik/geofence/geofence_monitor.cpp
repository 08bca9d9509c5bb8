#include "tovik/geofence/geofence_monitor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <queue>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tovik/geofence/fence_index.h"
#include "tovik/geofence/fence_presence.h"
#include "tovik/geofence/fence_shape.h"
#include "tovik/providers/location_provider.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/system/clock.h"
#include "tovik/system/console.h"

namespace tovik {
namespace {

constexpr std::size_t kNotInside = std::numeric_limits<std::size_t>::max();
constexpr std::array kDatums = {Datum::wgs84, Datum::gcj02, Datum::bd09};

// Exits first, then entries, then dwells: a device that crosses from one fence into its
// neighbour leaves the first before it enters the second.
int rank(GeofenceTransition transition) {
  switch (transition) {
    case GeofenceTransition::exit:
      return 0;
    case GeofenceTransition::enter:
      return 1;
    case GeofenceTransition::dwell:
      return 2;
  }
  return 3;
}

double exitBandOf(const Geofence& fence, const FenceShape& shape) {
  return fence.exitBand.value_or(std::max(Geofence::kExitBandShare * shape.radius(), Geofence::kMinimumExitBand));
}

// A fix's accuracy as the exit test counts it: an unknown one as none.
double accuracyOf(const Location& fix) {
  const double accuracy = fix.horizontalAccuracy;
  return std::isfinite(accuracy) && accuracy > 0.0 ? accuracy : 0.0;
}

}  // namespace

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
  // One fence and where the device stands with it. A free slot has serial 0. What a fix reads
  // comes first, together: with thousands of fences, each slot a fix visits is a cache miss.
  struct Slot {
    std::uint64_t testedAt = 0;  // the number of the last fix that tested it, plus one
    std::uint64_t firstFix = 0;  // the number of the first fix it sees
    std::uint64_t serial = 0;
    std::unique_ptr<const FenceShape> shape;
    double band = 0.0;
    Datum datum = Datum::wgs84;
    FencePresence presence;
    std::size_t insideAt = kNotInside;
    // Read when the fence is removed or reported.
    std::string id;
    FenceShape::Box box;
  };
  struct Expiry {
    double at;
    std::uint64_t serial;
    std::uint32_t slot;
    bool operator>(const Expiry& other) const { return at > other.at; }
  };
  // A transition found while testing, delivered once the fix is done with.
  struct Pending {
    std::uint32_t slot;
    std::uint64_t serial;
    GeofenceTransition transition;
  };

  std::shared_ptr<GeofenceDelegate> delegate;
  std::vector<Slot> slots;
  std::vector<std::uint32_t> freeSlots;
  std::unordered_map<std::string, std::uint32_t> byId;
  std::array<FenceIndex, kDatums.size()> indices;  // by datum
  std::vector<std::uint32_t> inside;               // the slots the device is inside
  std::priority_queue<Expiry, std::vector<Expiry>, std::greater<>> expiries;
  std::uint64_t fixes = 0;
  std::uint64_t serials = 0;
  std::vector<std::uint32_t> candidates;  // kept between fixes for their capacity
  std::vector<Pending> spare;
  std::shared_ptr<LocationProvider> provider;
  std::shared_ptr<SourceListener> listener;

  bool holds(std::uint32_t slot, std::uint64_t serial) const {
    return slot < slots.size() && slots[slot].serial == serial;
  }

  FenceIndex& indexOf(Datum datum) { return indices[static_cast<std::size_t>(datum)]; }

  void add(const Geofence& fence) {
    if (const auto known = byId.find(fence.id); known != byId.end()) remove(known->second);
    std::uint32_t index = 0;
    if (freeSlots.empty()) {
      index = static_cast<std::uint32_t>(slots.size());
      slots.emplace_back();
    } else {
      index = freeSlots.back();
      freeSlots.pop_back();
    }
    Slot& slot = slots[index];
    slot.id = fence.id;
    slot.shape = FenceShape::make(fence.shape);
    slot.box = slot.shape->bounds();
    slot.band = exitBandOf(fence, *slot.shape);
    slot.datum = fence.datum;
    slot.presence = FencePresence(fence);
    slot.serial = ++serials;
    slot.firstFix = fixes;
    slot.testedAt = 0;
    slot.insideAt = kNotInside;
    byId.emplace(fence.id, index);
    indexOf(fence.datum).insert(slot.box, index);
    if (std::isfinite(fence.expiry)) expiries.push({Clock::now() + fence.expiry, slot.serial, index});
  }

  void remove(std::uint32_t index) {
    Slot& slot = slots[index];
    indexOf(slot.datum).remove(slot.box, index);
    byId.erase(slot.id);
    leave(index);
    slot = Slot();
    freeSlots.push_back(index);
  }

  void removeAll() {
    for (FenceIndex& index : indices) index.clear();
    slots.clear();
    freeSlots.clear();
    byId.clear();
    inside.clear();
    expiries = {};
  }

  void dropExpired() {
    if (expiries.empty()) return;
    const double now = Clock::now();
    while (!expiries.empty() && expiries.top().at <= now) {
      const Expiry due = expiries.top();
      expiries.pop();
      if (holds(due.slot, due.serial)) remove(due.slot);
    }
  }

  void enter(std::uint32_t index) {
    Slot& slot = slots[index];
    if (slot.insideAt != kNotInside) return;
    slot.insideAt = inside.size();
    inside.push_back(index);
  }

  void leave(std::uint32_t index) {
    Slot& slot = slots[index];
    if (slot.insideAt == kNotInside) return;
    slots[inside.back()].insideAt = slot.insideAt;
    inside[slot.insideAt] = inside.back();
    inside.pop_back();
    slot.insideAt = kNotInside;
  }

  // Tests `fix` against the fences whose box holds it, in each datum that has fences, and
  // against the fences the device is inside, wherever it is now.
  std::vector<Pending> test(const Location& fix) {
    const std::uint64_t number = fixes++;
    const double accuracy = accuracyOf(fix);
    std::array<Coordinate, kDatums.size()> points{};
    candidates.clear();
    for (const Datum datum : kDatums) {
      if (indexOf(datum).empty()) continue;
      points[static_cast<std::size_t>(datum)] = convertDatum(fix.coordinate, Datum::wgs84, datum);
      indexOf(datum).query(points[static_cast<std::size_t>(datum)], candidates);
    }
    candidates.insert(candidates.end(), inside.begin(), inside.end());

    // The events go out in a buffer of their own: a delegate may test another fix meanwhile.
    std::vector<Pending> found = std::exchange(spare, {});
    found.clear();
    for (const std::uint32_t index : candidates) {
      Slot& slot = slots[index];
      if (slot.testedAt == number + 1) continue;  // in a box and inside both
      slot.testedAt = number + 1;
      const Coordinate point = points[static_cast<std::size_t>(slot.datum)];
      FencePresence::Reading reading{.inside = slot.shape->contains(point),
                                     .beyondBand = false,
                                     .time = fix.timestamp,
                                     .first = slot.firstFix == number};
      if (!reading.inside && slot.presence.isInside()) {
        reading.beyondBand = slot.shape->isFartherThan(point, slot.band + accuracy);
      }
      const GeofenceTransitions made = slot.presence.step(reading);
      if (slot.presence.isInside()) {
        enter(index);
      } else {
        leave(index);
      }
      for (const GeofenceTransition transition :
           {GeofenceTransition::enter, GeofenceTransition::exit, GeofenceTransition::dwell}) {
        if (hasTransition(made, transition)) found.push_back({index, slot.serial, transition});
      }
    }
    std::sort(found.begin(), found.end(), [this](const Pending& a, const Pending& b) {
      if (rank(a.transition) != rank(b.transition)) return rank(a.transition) < rank(b.transition);
      return slots[a.slot].id < slots[b.slot].id;
    });
    return found;
  }
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
  impl_->dropExpired();
  impl_->add(fence);
  return true;
}

bool GeofenceMonitor::removeGeofence(const std::string& id) {
  const auto known = impl_->byId.find(id);
  if (known == impl_->byId.end()) return false;
  impl_->remove(known->second);
  return true;
}

void GeofenceMonitor::removeAllGeofences() { impl_->removeAll(); }

std::size_t GeofenceMonitor::geofenceCount() const {
  impl_->dropExpired();
  return impl_->byId.size();
}

bool GeofenceMonitor::isInside(const std::string& id) const {
  impl_->dropExpired();
  const auto known = impl_->byId.find(id);
  return known != impl_->byId.end() && impl_->slots[known->second].presence.isInside();
}

void GeofenceMonitor::evaluate(const Location& fix) {
  if (!MainQueue::shared().isMainThread()) {
    MainQueue::shared().async([weak = weak_from_this(), fix] {
      if (const auto self = weak.lock()) self->evaluate(fix);
    });
    return;
  }
  if (!hasPosition(fix)) return;
  impl_->dropExpired();
  auto found = impl_->test(fix);
  // The delegate may let the monitor go, or remove fences, while it hears these.
  const auto self = found.empty() ? nullptr : shared_from_this();
  for (const Impl::Pending& pending : found) {
    const auto delegate = impl_->delegate;
    if (!delegate) break;
    if (!impl_->holds(pending.slot, pending.serial)) continue;  // removed by an earlier callback
    const GeofenceEvent event{.id = impl_->slots[pending.slot].id,
                              .transition = pending.transition,
                              .location = fix,
                              .time = fix.timestamp};
    delegate->onReceivedGeofenceEvent(event);
  }
  impl_->spare = std::move(found);
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
