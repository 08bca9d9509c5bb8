#pragma once

#include <memory>
#include <string>

#include "tovik/platform/location_provider.h"

namespace tovik {

/// Replays a recorded NMEA log (GGA, RMC, GSA; checksums verified), paced by the log's
/// own time stamps divided by `speedFactor`. A missing or unreadable file is reported
/// as a location error. Grants `authorizedAlways`.
class NmeaReplayProvider : public LocationProvider {
 public:
  explicit NmeaReplayProvider(std::string path, double speedFactor = 1.0);
  ~NmeaReplayProvider() override;

  AuthorizationStatus authorizationStatus() const override;
  /// Lines skipped because they were malformed, truncated or failed their checksum.
  std::size_t skippedLines() const;

 protected:
  void startUpdates() override;
  void stopUpdates() override;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tovik
