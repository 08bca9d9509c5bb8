#pragma once

#include <memory>

#include "tovik/providers/location_provider.h"

namespace tovik::cli {

/// A device standing still at one place: each start of updates delivers the fix once,
/// stamped with the time of delivery, on a later turn of the main queue. Grants
/// `authorizedAlways`. Nothing changes after that fix, so its silence is no loss.
class FixedLocationProvider : public LocationProvider {
 public:
  explicit FixedLocationProvider(Location fix);
  ~FixedLocationProvider() override;
  FixedLocationProvider(const FixedLocationProvider&) = delete;
  FixedLocationProvider& operator=(const FixedLocationProvider&) = delete;

  AuthorizationStatus authorizationStatus() const override;

 protected:
  void startUpdates() override;
  void stopUpdates() override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tovik::cli
