#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tovik/providers/location_provider.h"
#include "tovik/system/export.h"

namespace tovik {

/// Real fixes from gpsd through libgps. While updates are wanted a reader thread keeps a
/// JSON watch open on gpsd at `host`:`port` and posts every new TPV fix (2D or 3D, with a
/// time; each time once) to the main queue; it only posts, so listeners are called on the
/// main thread. gpsd not answering is a location error, reported once per spell of
/// failures to the sessions running, and to each session that starts during the spell;
/// meanwhile the reader retries after `RetryBackoff`'s waits (a random wait under a bound of
/// 0.5 s that doubles up to 30 s). Stopping the updates closes the watch. Grants
/// `authorizedAlways`. gpsd reports every epoch of its receiver, so its silence is watched
/// (see `LocationProvider`): a 1 Hz receiver that stops is reported unavailable 2 s after its
/// last fix.
///
/// Unknown values follow the platform conventions: no eph gives a horizontal accuracy of
/// -1, no altitude or no epv a vertical accuracy of -1, no speed or course -1.
///
/// Stopping returns at once: the reader sleeps on gpsd's socket and a stop descriptor, and
/// a reader caught in a connect to a host that does not answer ends on its own when the
/// system's connect time-out comes, posting nothing.
class TOVIK_API GpsdLocationProvider : public LocationProvider {
 public:
  static constexpr const char* kDefaultHost = "localhost";
  static constexpr std::uint16_t kDefaultPort = 2947;

  static constexpr const char* kErrorDomain = "GpsdLocationProvider";
  /// Code of the error reported when gpsd cannot be reached or its watch cannot be opened.
  static constexpr long kErrorCannotConnect = 1;

  explicit GpsdLocationProvider(std::string host = kDefaultHost, std::uint16_t port = kDefaultPort);
  ~GpsdLocationProvider() override;
  GpsdLocationProvider(const GpsdLocationProvider&) = delete;
  GpsdLocationProvider& operator=(const GpsdLocationProvider&) = delete;

  const std::string& host() const;
  std::uint16_t port() const;
  /// Whether the reader holds an open watch on gpsd, as last posted to the main thread.
  bool isConnected() const;

  AuthorizationStatus authorizationStatus() const override;

 protected:
  void startUpdates() override;
  void stopUpdates() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik
