#pragma once

#include <memory>
#include <string>

#include "tovik/platform/location_provider.h"

namespace tovik {

/// Replays a recorded NMEA log (GGA, RMC, GSA; checksums verified), paced by the log's
/// own time stamps divided by `speedFactor` (zero, negative or infinite: as fast as
/// possible). Each start replays the log from its beginning on a reader thread that only
/// posts to the main queue; at the end of the log the fixes simply stop. A missing or
/// unreadable file is reported as a location error. Grants `authorizedAlways`.
class NmeaReplayProvider : public LocationProvider {
 public:
  explicit NmeaReplayProvider(std::string path, double speedFactor = 1.0);
  ~NmeaReplayProvider() override;

  AuthorizationStatus authorizationStatus() const override;
  /// Lines of the current (or last) replay skipped because they were malformed, truncated,
  /// failed their checksum or were of another sentence type. Blank lines are not counted.
  std::size_t skippedLines() const;
  /// Whether the current (or last) replay has delivered its last fix (main thread).
  bool reachedEnd() const;

 protected:
  void startUpdates() override;
  void stopUpdates() override;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tovik
