#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tovik/providers/geoclue_location_provider.h"
#include "tovik/providers/gpsd_location_provider.h"
#include "tovik/system/export.h"
#include "tovik/providers/location_provider.h"

namespace tovik {

/// Picks the machine's location source when updates start, on a thread of its own: gpsd
/// when its socket answers and it reports a device, otherwise GeoClue2 when it is on the
/// system bus (running, or started on demand), otherwise one location error that names
/// both and what to install; the probe then goes on, after `RetryBackoff`'s waits (a random
/// wait under a bound of 0.5 s that doubles up to 30 s), until one of them appears. The choice
/// is written to the kit's log, and the chosen provider's fixes, errors, availability and
/// authorisation are passed on as they are; what the listeners ask for goes to it.
class TOVIK_API AutomaticLocationProvider : public LocationProvider {
 public:
  static constexpr const char* kErrorDomain = "AutomaticLocationProvider";
  /// Neither gpsd with a device nor GeoClue2 was found.
  static constexpr long kErrorNoSource = 1;

  enum class Source { none, gpsd, geoclue };

  struct Options {
    std::string gpsdHost = GpsdLocationProvider::kDefaultHost;
    std::uint16_t gpsdPort = GpsdLocationProvider::kDefaultPort;
    GeoclueLocationProvider::Options geoclue;
    /// How long each probe waits for gpsd's answer and for the bus.
    std::chrono::milliseconds probeTimeout = std::chrono::milliseconds(1500);
  };

  explicit AutomaticLocationProvider(Options options);
  AutomaticLocationProvider();
  ~AutomaticLocationProvider() override;
  AutomaticLocationProvider(const AutomaticLocationProvider&) = delete;
  AutomaticLocationProvider& operator=(const AutomaticLocationProvider&) = delete;

  /// The source last chosen (none before the first choice).
  Source source() const;

  /// The last chosen provider's answer; `notDetermined` before a choice.
  AuthorizationStatus authorizationStatus() const override;

 protected:
  void startUpdates() override;
  void stopUpdates() override;
  void applyRequirements(const UpdateRequirements& requirements) override;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tovik
