#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "tovik/providers/location_provider.h"
#include "tovik/providers/provider_reader.h"
#include "tovik/system/export.h"

namespace tovik {

/// Replays a recorded NMEA log (GGA, RMC, GSA; checksums verified), paced by the log's
/// own time stamps divided by `speedFactor` (zero, negative or infinite: as fast as
/// possible; however small, one step waits at most a day). Each start replays the log from its beginning on a reader thread that only
/// posts to the main queue; at the end of the log the fixes simply stop. A missing or
/// unreadable file is reported as a location error. Grants `authorizedAlways`.
class TOVIK_API NmeaReplayProvider : public LocationProvider {
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
  static void replay(const ProviderReader::Run& run, const std::string& path, double speedFactor,
                     const std::shared_ptr<std::atomic<std::size_t>>& skipped, NmeaReplayProvider* owner);

  const std::string path_;
  const double speedFactor_;
  // Counted by the reader, which owns its run's counter: a reader may outlive a stop.
  std::shared_ptr<std::atomic<std::size_t>> skipped_ = std::make_shared<std::atomic<std::size_t>>(0);
  bool reachedEnd_ = false;              // main thread only
  ProviderReader reader_;                // last, so that it is stopped before the rest goes
};

}  // namespace tovik
