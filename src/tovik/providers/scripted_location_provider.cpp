#include "tovik/providers/scripted_location_provider.h"

namespace tovik {

void ScriptedLocationProvider::pushLocation(const Location& location) {
  if (updating_) {
    deliver(location);
  }
}

void ScriptedLocationProvider::pushError(const Error& error) {
  if (updating_) {
    fail(error);
  }
}

void ScriptedLocationProvider::setAuthorizationStatus(AuthorizationStatus status) { status_ = status; }

void ScriptedLocationProvider::setAnswerToWhenInUseRequest(std::optional<AuthorizationStatus> answer) {
  whenInUseAnswer_ = answer;
}

void ScriptedLocationProvider::setAnswerToAlwaysRequest(std::optional<AuthorizationStatus> answer) {
  alwaysAnswer_ = answer;
}

AuthorizationStatus ScriptedLocationProvider::authorizationStatus() const { return status_; }

void ScriptedLocationProvider::requestWhenInUseAuthorization() {
  ++whenInUseRequests_;
  if (whenInUseAnswer_) {
    status_ = *whenInUseAnswer_;
  }
}

void ScriptedLocationProvider::requestAlwaysAuthorization() {
  ++alwaysRequests_;
  if (alwaysAnswer_) {
    status_ = *alwaysAnswer_;
  }
}

void ScriptedLocationProvider::startUpdates() {
  ++starts_;
  updating_ = true;
}

void ScriptedLocationProvider::stopUpdates() {
  ++stops_;
  updating_ = false;
}

}  // namespace tovik
