#pragma once

#include <memory>

#include "tovik/platform/location_provider.h"

namespace tovik {

/// A provider that has no fixes to give: each time it starts it reports one error
/// (posted to the main queue, so it arrives after the start returns). Grants
/// `authorizedAlways`, since there is nothing to protect.
class UnavailableLocationProvider : public LocationProvider {
 public:
  explicit UnavailableLocationProvider(Error error);
  ~UnavailableLocationProvider() override;

  AuthorizationStatus authorizationStatus() const override;

 protected:
  void startUpdates() override;
  void stopUpdates() override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tovik
