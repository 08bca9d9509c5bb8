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
/// The accuracy level and the distance threshold come from `Options` where they are set
/// (positive), otherwise from what the listening location managers ask for (their desired
/// accuracy and distance filter, the finest of them); new values while the updates run start
/// a new client with them.
///
/// GeoClue refusing the client (no agent, not allowed by its configuration, or `Active`
/// false after `Start`) makes the status `denied` with an error saying what to do. GeoClue
/// missing from the bus, or the bus missing, is a location error; the reader keeps trying
/// after `RetryBackoff`'s waits (a random wait under a bound of 0.5 s that doubles up to
/// 30 s), so a GeoClue that restarts is picked up again and the session goes on. A failure is
/// reported once per spell of failures, and makes the source unavailable until its next fix.
/// GeoClue reports changes of position only (a Wi-Fi position may stay unchanged for
/// minutes, and a distance threshold holds back updates while the device stands still), so
/// its silence is not taken for a loss.
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
    /// Metres, for GeoClue's accuracy level; zero or negative: what the location managers ask
    /// for (the best GeoClue has when one of them asks for the best).
    double desiredAccuracy = -1.0;
    /// Metres, GeoClue's distance threshold; zero or negative: what the location managers ask
    /// for (every change when one of them asks for every fix).
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
  void applyRequirements(const UpdateRequirements& requirements) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik
