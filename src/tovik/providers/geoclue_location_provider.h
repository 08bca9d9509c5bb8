#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tovik/system/export.h"
#include "tovik/providers/location_provider.h"

namespace tovik {

/// Fixes from GeoClue2, the system's location service on D-Bus, through sd-bus. While
/// updates are wanted a reader thread owns a bus connection: it creates a GeoClue client
/// (`CreateClient`), sets its `DesktopId`, `RequestedAccuracyLevel` and `DistanceThreshold`,
/// starts it and posts every `LocationUpdated` to the main queue. Stopping the updates
/// makes the reader send `Stop` and `DeleteClient` and close the connection; the main
/// thread never waits for the bus.
///
/// GeoClue refusing the client (no agent, not allowed by its configuration, or `Active`
/// false after `Start`) makes the status `denied` with an error saying what to do. GeoClue
/// missing from the bus, or the bus missing, is a location error; the reader keeps trying
/// with a back-off of 0.5 s doubling up to 8 s, so a GeoClue that restarts is picked up
/// again and the session goes on. A failure is reported once per spell of failures.
///
/// GeoClue gives no vertical accuracy (-1); no altitude, speed or heading is -1 as well.
class TOVIK_API GeoclueLocationProvider : public LocationProvider {
 public:
  static constexpr const char* kErrorDomain = "GeoclueLocationProvider";
  /// The bus cannot be reached or GeoClue is not on it.
  static constexpr long kErrorUnavailable = 1;
  /// GeoClue refused the application.
  static constexpr long kErrorDenied = 2;
  /// GeoClue answered a call with an error.
  static constexpr long kErrorFailed = 3;

  struct Options {
    /// A D-Bus address; empty for the system bus (which honours DBUS_SYSTEM_BUS_ADDRESS).
    std::string busAddress;
    /// The `DesktopId` GeoClue authorises; empty for the host bundle's identifier.
    std::string desktopId;
    /// Metres; zero or negative asks for the best GeoClue has.
    double desiredAccuracy = -1.0;
    /// Metres; zero or negative: every change.
    double distanceFilter = -1.0;
  };

  explicit GeoclueLocationProvider(Options options);
  GeoclueLocationProvider();
  ~GeoclueLocationProvider() override;
  GeoclueLocationProvider(const GeoclueLocationProvider&) = delete;
  GeoclueLocationProvider& operator=(const GeoclueLocationProvider&) = delete;

  /// Whether GeoClue runs on the bus, or the bus can start it; waits at most `timeout`.
  /// Blocking: not for the main thread.
  static bool isOnBus(const std::string& busAddress, std::chrono::milliseconds timeout);

  /// GeoClue's accuracy level for a desired accuracy in metres.
  static std::uint32_t accuracyLevel(double desiredAccuracy);

  /// Whether a started GeoClue client is active, as last posted to the main thread.
  bool isConnected() const;

  /// `notDetermined` until GeoClue has answered, then `authorizedAlways` or `denied`.
  AuthorizationStatus authorizationStatus() const override;

 protected:
  void startUpdates() override;
  void stopUpdates() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik
