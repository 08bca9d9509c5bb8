#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tovik/providers/authorization_status.h"
#include "tovik/system/error.h"
#include "tovik/system/location.h"
#include "tovik/system/location_availability.h"
#include "tovik/system/export.h"

namespace tovik {

/// What a listener asks of the source it listens to.
struct TOVIK_API UpdateRequirements {
  /// Metres; zero or negative: the best the source has.
  double desiredAccuracy = -1.0;
  /// Metres between delivered fixes; zero or negative: every fix.
  double distanceFilter = -1.0;
  bool operator==(const UpdateRequirements&) const = default;
};

/// Receives what a provider reports, always on the main thread.
class TOVIK_API LocationProviderListener {
 public:
  virtual ~LocationProviderListener() = default;
  virtual void providerDidUpdateLocation(const Location& location) = 0;
  virtual void providerDidFail(const Error& error) = 0;
  /// The source stopped delivering, or delivers again. By default ignored.
  virtual void providerDidChangeAvailability(const LocationAvailability& availability);
  /// What this listener asks of the source; by default the best accuracy and every fix.
  virtual UpdateRequirements requirements() const;
};

/// A source of fixes shared by every location manager of the process. The base class
/// keeps the listeners: a provider starts when its first listener arrives and stops
/// when its last one leaves. Subclasses report through `deliver` and `fail`, on the
/// main thread (readers on other threads post there first). A subclass that still runs
/// when it is destroyed stops itself in its destructor.
///
/// The base class also keeps the source's health. Every delivered fix is stamped with the
/// time the kit received it (`Location::receivedAt`, see `ageOf`) and kept as the last known
/// fix. While the provider runs, its watchdog reports the source unavailable
/// to the listeners when it falls silent for twice the interval its fixes keep, or when it
/// enters a spell of failures, and available again with its next fix; each change once.
/// A source that reports changes only (GeoClue2) calls `watchSilence(false)`: its silence is
/// no loss, its failures still are. And it combines what its listeners ask for
/// (`requirements`) and hands the combination to `applyRequirements`.
class TOVIK_API LocationProvider {
 public:
  LocationProvider();
  virtual ~LocationProvider();
  LocationProvider(const LocationProvider&) = delete;
  LocationProvider& operator=(const LocationProvider&) = delete;

  /// Listeners are held weakly; a listener that goes away is dropped (the provider
  /// notices at its next report). Adding a listener twice keeps one entry.
  void addListener(const std::shared_ptr<LocationProviderListener>& listener);
  void removeListener(const LocationProviderListener* listener);
  bool hasListeners() const;

  /// The error of the spell of failures the provider is in, if it is in one: a source
  /// reports a failure once, and a session that starts during the spell hears it from
  /// here. Cleared by the next fix, a recovery, or the provider stopping.
  const std::optional<Error>& currentFailure() const { return failure_; }

  /// The spell of unavailability the source is in, if it is in one (a listener that starts
  /// meanwhile hears it from here). Cleared by the next fix or the provider stopping.
  const std::optional<LocationAvailability>& currentUnavailability() const { return unavailable_; }

  /// The last fix with a position the source delivered, if it is at most `maxAge` old
  /// (`ageOf`); none otherwise. Kept while the provider is stopped.
  std::optional<Location> lastLocation(std::chrono::duration<double> maxAge) const;

  /// What the listeners ask for together: the finest accuracy and the smallest distance
  /// filter any of them asks for (one asking for the best, or for every fix, decides).
  const UpdateRequirements& requirements() const { return requirements_; }
  /// A listener's requirements changed: the provider combines them again.
  void listenerRequirementsChanged();

  virtual AuthorizationStatus authorizationStatus() const = 0;
  virtual void requestWhenInUseAuthorization() {}
  virtual void requestAlwaysAuthorization() {}

 protected:
  virtual void startUpdates() = 0;
  virtual void stopUpdates() = 0;
  /// Hands `location` to every listener, stamped with this source's name and simulated flag
  /// (see `identify`) unless it already names a source.
  void deliver(const Location& location);
  /// How this source's fixes name it; unset, they keep the source they carry.
  void identify(std::string name, bool simulated) {
    sourceName_ = std::move(name);
    simulated_ = simulated;
  }
  /// Reports `error` to every listener.
  void fail(const Error& error);
  /// Reports `error` and notes it as the current failure: the source stays failed until
  /// it recovers, and managers that start meanwhile hear it too.
  void enterFailure(const Error& error);
  /// Notes the current failure without reporting it now (managers that start ask for it).
  void noteFailure(const Error& error) { failure_ = error; }
  /// The source works again (a fix will follow): the spell of failures is over.
  void recovered() { failure_.reset(); }
  /// Whether silence makes the source unavailable (the default). A source that reports
  /// changes only says no.
  void watchSilence(bool watch) { watchSilence_ = watch; }
  /// Reports a wrapped source's availability change as this source's own (once per change).
  void relayAvailability(const LocationAvailability& availability);
  /// The listeners' combined requirements changed (see `requirements`). A source that can
  /// narrow what it delivers takes them; the others deliver every fix at their best, and
  /// each location manager applies its own distance filter. By default ignored.
  virtual void applyRequirements(const UpdateRequirements& requirements) { (void)requirements; }

 private:
  struct Watch;

  void dropExpiredListeners();
  void stopIfUnused();
  void updateRequirements();
  void armWatch();
  void onWatchFired();
  void changeAvailability(bool available, LocationAvailability::Reason reason, const std::string& source);

  std::vector<std::weak_ptr<LocationProviderListener>> listeners_;
  bool started_ = false;
  std::optional<Error> failure_;
  std::string sourceName_;
  bool simulated_ = false;
  bool watchSilence_ = true;
  std::optional<LocationAvailability> unavailable_;
  std::optional<Location> lastFix_;
  UpdateRequirements requirements_;
  std::shared_ptr<Watch> watch_;  // the watchdog and its timer; its timer holds it weakly
};

}  // namespace tovik
