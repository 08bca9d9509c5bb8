#include "tovik/geofence/fence_presence.h"

namespace tovik {

FencePresence::FencePresence(const Geofence& fence)
    : transitions_(fence.transitions),
      initialTrigger_(fence.initialTrigger),
      exitConfirmations_(fence.exitConfirmations),
      loiteringDelay_(fence.loiteringDelay) {}

GeofenceTransitions FencePresence::step(const Reading& reading) {
  GeofenceTransitions made = 0;
  if (!inside_) {
    if (!reading.inside) return 0;
    inside_ = true;
    fixesBeyondBand_ = 0;
    enteredAt_ = reading.time;
    // A device found inside at the fence's first fix without the initial trigger has not been
    // seen entering: no entry, and no dwell for this stay.
    const bool seenEntering = !reading.first || initialTrigger_;
    dwellPending_ = seenEntering;
    if (seenEntering) made = made | GeofenceTransition::enter;
  } else if (!reading.inside && reading.beyondBand) {
    if (++fixesBeyondBand_ >= exitConfirmations_) {
      inside_ = false;
      fixesBeyondBand_ = 0;
      dwellPending_ = false;
      return transitions_ & static_cast<GeofenceTransitions>(GeofenceTransition::exit);
    }
    return 0;
  } else {
    fixesBeyondBand_ = 0;
  }
  if (dwellPending_ && reading.time - enteredAt_ >= loiteringDelay_) {
    dwellPending_ = false;
    made = made | GeofenceTransition::dwell;
  }
  return made & transitions_;
}

}  // namespace tovik
