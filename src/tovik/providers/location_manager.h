#pragma once

#include <memory>
#include <vector>

#include "tovik/providers/authorization_status.h"
#include "tovik/system/error.h"
#include "tovik/system/location.h"
#include "tovik/system/location_availability.h"

namespace tovik {

class LocationManager;
class LocationProvider;

/// Receives a manager's fixes and errors, on the main thread.
class LocationManagerDelegate {
 public:
  virtual ~LocationManagerDelegate() = default;
  /// `locations` is oldest first and never empty.
  virtual void didUpdateLocations(LocationManager& manager, const std::vector<Location>& locations) = 0;
  virtual void didFailWithError(LocationManager& manager, const Error& error) = 0;
  /// The source stopped delivering or delivers again (while the manager updates or waits for
  /// a requested fix). By default ignored.
  virtual void didChangeAvailability(LocationManager& manager, const LocationAvailability& availability) {
    (void)manager;
    (void)availability;
  }
};

/// Best accuracy the source can give.
inline constexpr double kLocationAccuracyBest = -1.0;

/// A phone-style location manager over the process-wide `LocationProvider`.
/// Use from the main thread; the delegate is called there too, never after the manager
/// is destroyed (destruction ends its updates and its outstanding request).
/// Defaults: no distance filter (-1), best accuracy, automatic pausing on, background
/// updates off.
///
/// The distance filter and the desired accuracy go to the provider as this manager's
/// `UpdateRequirements` (with those of the other managers: the finest of them): GeoClue2 takes
/// them as its distance threshold and accuracy level; gpsd, the NMEA replay and the scripted
/// source deliver every fix at their best, which meets any desired accuracy. Whatever the
/// source, each manager applies its own distance filter to what it delivers.
class LocationManager {
 public:
  /// How long `requestLocation` waits for a fix before it reports an error.
  static constexpr double kRequestLocationTimeout = 15.0;
  /// Domain and code of the error `requestLocation` reports when no fix came in time.
  static constexpr const char* kErrorDomain = "LocationManager";
  static constexpr long kErrorLocationTimedOut = 0;

  LocationManager();
  ~LocationManager();
  LocationManager(const LocationManager&) = delete;
  LocationManager& operator=(const LocationManager&) = delete;

  void setDistanceFilter(double metres);
  double distanceFilter() const;
  void setDesiredAccuracy(double metres);
  double desiredAccuracy() const;
  /// Held weakly, as a phone's manager does.
  void setDelegate(std::weak_ptr<LocationManagerDelegate> delegate);
  void setPausesLocationUpdatesAutomatically(bool pauses);
  bool pausesLocationUpdatesAutomatically() const;
  void setAllowsBackgroundLocationUpdates(bool allows);
  bool allowsBackgroundLocationUpdates() const;

  /// Ask the provider; the answer is not awaited.
  void requestWhenInUseAuthorization();
  void requestAlwaysAuthorization();

  /// Starts a stream of fixes; after the first, a fix is delivered only when it lies at
  /// least `distanceFilter` metres from the last one delivered (zero or negative: every fix).
  /// A source that is unavailable when the stream starts is reported as such one turn later.
  void startUpdatingLocation();
  /// Ends the stream, and an outstanding `requestLocation` with it.
  void stopUpdatingLocation();
  /// One fix through `didUpdateLocations` (the next the provider gives, whatever the
  /// distance filter), or one error: the provider's, or a time-out after
  /// `kRequestLocationTimeout` seconds without a fix.
  void requestLocation();

  /// The current provider's answer.
  static AuthorizationStatus authorizationStatus();

 private:
  friend class LocationManagerProbe;
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tovik
