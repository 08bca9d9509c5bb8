#pragma once

#include <optional>

#include "tovik/providers/location_provider.h"
#include "tovik/system/export.h"

namespace tovik {

/// A provider driven by hand, for tests and examples. Pushed fixes and errors reach
/// the listeners at once (call on the main thread); while nobody listens they are dropped.
class TOVIK_API ScriptedLocationProvider : public LocationProvider {
 public:
  ScriptedLocationProvider() { identify("scripted", true); }
  void pushLocation(const Location& location);
  void pushError(const Error& error);

  void setAuthorizationStatus(AuthorizationStatus status);
  /// The status an authorisation request switches to; none leaves the status as it is.
  void setAnswerToWhenInUseRequest(std::optional<AuthorizationStatus> answer);
  void setAnswerToAlwaysRequest(std::optional<AuthorizationStatus> answer);

  AuthorizationStatus authorizationStatus() const override;
  void requestWhenInUseAuthorization() override;
  void requestAlwaysAuthorization() override;

  // What the provider was asked.
  int whenInUseRequests() const { return whenInUseRequests_; }
  int alwaysRequests() const { return alwaysRequests_; }
  int starts() const { return starts_; }
  int stops() const { return stops_; }
  bool isUpdating() const { return updating_; }

 protected:
  void startUpdates() override;
  void stopUpdates() override;

 private:
  AuthorizationStatus status_ = AuthorizationStatus::authorizedWhenInUse;
  std::optional<AuthorizationStatus> whenInUseAnswer_;
  std::optional<AuthorizationStatus> alwaysAnswer_;
  int whenInUseRequests_ = 0;
  int alwaysRequests_ = 0;
  int starts_ = 0;
  int stops_ = 0;
  bool updating_ = false;
};

}  // namespace tovik
