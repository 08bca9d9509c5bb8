#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "tovik/geofence/fence_index.h"
#include "tovik/geofence/fence_presence.h"
#include "tovik/geofence/fence_shape.h"
#include "tovik/geofence/geofence.h"

namespace tovik {

/// A monitor's fences and where the device stands with each: their shapes, an R-tree of their
/// boxes per datum, the fences the device is inside and their expiries. A fix is tested against
/// the fences whose box holds it (converted into each datum that has fences) and the fences the
/// device is inside, wherever it is now; nothing else is visited.
class FenceSet {
 public:
  /// A transition a fix made, named by the fence's place and the serial it was added with (a
  /// fence removed or replaced since no longer answers to it).
  struct Transition {
    std::uint32_t slot;
    std::uint64_t serial;
    GeofenceTransition transition;
  };

  /// Adds a fence that passed `Geofence::problem`, in place of one with the same id; it sees
  /// the fixes from the next on.
  void add(const Geofence& fence);
  bool remove(const std::string& id);
  void clear();
  std::size_t size();
  bool isInside(const std::string& id);
  /// Forgets the fences whose expiry has passed on the kit's clock.
  void dropExpired();

  /// Tests `fix` (with a position) and puts the transitions it makes in `made` (cleared first):
  /// exits, then entries, then dwells, each kind in the order of the fences' ids.
  void test(const Location& fix, std::vector<Transition>& made);
  /// The id of the fence `transition` belongs to; none once that fence is gone.
  const std::string* idOf(const Transition& transition) const;

 private:
  // One fence and where the device stands with it; serial 0 when free. What a fix reads comes
  // first, together: with thousands of fences, each slot a fix visits is a cache miss.
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
  static constexpr std::size_t kNotInside = static_cast<std::size_t>(-1);
  static constexpr std::size_t kDatums = 3;

  FenceIndex& indexOf(Datum datum) { return indices_[static_cast<std::size_t>(datum)]; }
  void removeSlot(std::uint32_t index);
  void noteInside(std::uint32_t index, bool inside);

  std::vector<Slot> slots_;
  std::vector<std::uint32_t> freeSlots_;
  std::unordered_map<std::string, std::uint32_t> byId_;
  std::array<FenceIndex, kDatums> indices_;
  std::vector<std::uint32_t> inside_;
  std::priority_queue<Expiry, std::vector<Expiry>, std::greater<>> expiries_;
  std::uint64_t fixes_ = 0;
  std::uint64_t serials_ = 0;
  std::vector<std::uint32_t> candidates_;  // kept between fixes for its capacity
};

}  // namespace tovik
