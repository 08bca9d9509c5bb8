#include "tovik/geofence/fence_set.h"

#include <algorithm>
#include <cmath>

#include "tovik/system/clock.h"

namespace tovik {
namespace {

constexpr std::array kDatumsInOrder = {Datum::wgs84, Datum::gcj02, Datum::bd09};
constexpr std::array kTransitions = {GeofenceTransition::enter, GeofenceTransition::exit, GeofenceTransition::dwell};

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

void FenceSet::add(const Geofence& fence) {
  remove(fence.id);
  std::uint32_t index = 0;
  if (freeSlots_.empty()) {
    index = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  } else {
    index = freeSlots_.back();
    freeSlots_.pop_back();
  }
  Slot& slot = slots_[index];
  slot.shape = FenceShape::make(fence.shape);
  slot.box = slot.shape->bounds();
  slot.band = exitBandOf(fence, *slot.shape);
  slot.datum = fence.datum;
  slot.presence = FencePresence(fence);
  slot.id = fence.id;
  slot.serial = ++serials_;
  slot.firstFix = fixes_;
  byId_.emplace(fence.id, index);
  indexOf(fence.datum).insert(slot.box, index);
  if (std::isfinite(fence.expiry)) expiries_.push({Clock::now() + fence.expiry, slot.serial, index});
}

bool FenceSet::remove(const std::string& id) {
  const auto known = byId_.find(id);
  if (known == byId_.end()) return false;
  removeSlot(known->second);
  return true;
}

void FenceSet::removeSlot(std::uint32_t index) {
  Slot& slot = slots_[index];
  indexOf(slot.datum).remove(slot.box, index);
  byId_.erase(slot.id);
  noteInside(index, false);
  slot = Slot();
  freeSlots_.push_back(index);
}

void FenceSet::clear() {
  for (FenceIndex& index : indices_) index.clear();
  slots_.clear();
  freeSlots_.clear();
  byId_.clear();
  inside_.clear();
  expiries_ = {};
}

std::size_t FenceSet::size() {
  dropExpired();
  return byId_.size();
}

bool FenceSet::isInside(const std::string& id) {
  dropExpired();
  const auto known = byId_.find(id);
  return known != byId_.end() && slots_[known->second].presence.isInside();
}

void FenceSet::dropExpired() {
  if (expiries_.empty()) return;
  const double now = Clock::now();
  while (!expiries_.empty() && expiries_.top().at <= now) {
    const Expiry due = expiries_.top();
    expiries_.pop();
    if (slots_[due.slot].serial == due.serial) removeSlot(due.slot);
  }
}

void FenceSet::noteInside(std::uint32_t index, bool inside) {
  Slot& slot = slots_[index];
  if (inside == (slot.insideAt != kNotInside)) return;
  if (inside) {
    slot.insideAt = inside_.size();
    inside_.push_back(index);
    return;
  }
  slots_[inside_.back()].insideAt = slot.insideAt;
  inside_[slot.insideAt] = inside_.back();
  inside_.pop_back();
  slot.insideAt = kNotInside;
}

void FenceSet::test(const Location& fix, std::vector<Transition>& made) {
  made.clear();
  const std::uint64_t number = fixes_++;
  const double accuracy = accuracyOf(fix);
  std::array<Coordinate, kDatums> points{};
  candidates_.clear();
  for (const Datum datum : kDatumsInOrder) {
    if (indexOf(datum).empty()) continue;
    const Coordinate point = convertDatum(fix.coordinate, Datum::wgs84, datum);
    points[static_cast<std::size_t>(datum)] = point;
    indexOf(datum).query(point, candidates_);
  }
  candidates_.insert(candidates_.end(), inside_.begin(), inside_.end());

  for (const std::uint32_t index : candidates_) {
    Slot& slot = slots_[index];
    if (slot.testedAt == number + 1) continue;  // in its box and inside it both
    slot.testedAt = number + 1;
    const Coordinate point = points[static_cast<std::size_t>(slot.datum)];
    FencePresence::Reading reading{.inside = slot.shape->contains(point),
                                   .beyondBand = false,
                                   .time = fix.timestamp,
                                   .first = slot.firstFix == number};
    if (!reading.inside && slot.presence.isInside()) {
      reading.beyondBand = slot.shape->isFartherThan(point, slot.band + accuracy);
    }
    const GeofenceTransitions transitions = slot.presence.step(reading);
    noteInside(index, slot.presence.isInside());
    for (const GeofenceTransition transition : kTransitions) {
      if (hasTransition(transitions, transition)) made.push_back({index, slot.serial, transition});
    }
  }
  std::sort(made.begin(), made.end(), [this](const Transition& a, const Transition& b) {
    if (rank(a.transition) != rank(b.transition)) return rank(a.transition) < rank(b.transition);
    return slots_[a.slot].id < slots_[b.slot].id;
  });
}

const std::string* FenceSet::idOf(const Transition& transition) const {
  const bool there = transition.slot < slots_.size() && slots_[transition.slot].serial == transition.serial;
  return there ? &slots_[transition.slot].id : nullptr;
}

}  // namespace tovik
