#include "tovik/geofence/fence_presence.h"

namespace tovik {

GeofenceTransitions FencePresence::step(const Geofence& fence, const Reading& reading) {
  GeofenceTransitions made = 0;
  if (!inside_) {
    if (!reading.inside) return 0;
    inside_ = true;
    fixesBeyondBand_ = 0;
    enteredAt_ = reading.time;
    // A device found inside at the fence's first fix without the initial trigger has not been
    // seen entering: no entry, and no dwell for this stay.
    const bool seenEntering = !reading.first || fence.initialTrigger;
    dwellPending_ = seenEntering;
    if (seenEntering) made = made | GeofenceTransition::enter;
  } else if (!reading.inside && reading.beyondBand) {
    if (++fixesBeyondBand_ >= fence.exitConfirmations) {
      inside_ = false;
      fixesBeyondBand_ = 0;
      dwellPending_ = false;
      return fence.transitions & static_cast<GeofenceTransitions>(GeofenceTransition::exit);
    }
    return 0;
  } else {
    fixesBeyondBand_ = 0;
  }
  const auto loitering = std::chrono::duration<double>(fence.loiteringDelay);
  if (dwellPending_ && reading.time - enteredAt_ >= loitering) {
    dwellPending_ = false;
    made = made | GeofenceTransition::dwell;
  }
  return made & fence.transitions;
}

}  // namespace tovik
