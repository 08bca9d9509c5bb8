#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "tovik/providers/gpsd_location_provider.h"
#include "tovik/providers/location_provider.h"

namespace tovik::cli {

/// `auto`: gpsd on localhost:2947 when it reports a receiver, otherwise GeoClue2 on the
/// system bus (the default).
struct AutoSource {
  bool operator==(const AutoSource&) const = default;
};

/// `geoclue`: GeoClue2 on the system bus (DBUS_SYSTEM_BUS_ADDRESS moves it).
struct GeoclueSource {
  bool operator==(const GeoclueSource&) const = default;
};

/// `gpsd[:HOST[:PORT]]`; an IPv6 address goes in brackets: `gpsd:[::1]:2947`.
struct GpsdSource {
  std::string host = GpsdLocationProvider::kDefaultHost;
  std::uint16_t port = GpsdLocationProvider::kDefaultPort;
  bool operator==(const GpsdSource&) const = default;
};

/// `nmea:FILE[@SPEED]`: a recorded log replayed at SPEED times real time (0: as fast as
/// possible). An `@` followed by anything but a number belongs to the file name.
struct NmeaSource {
  std::string path;
  double speed = 1.0;
  bool operator==(const NmeaSource&) const = default;
};

/// `fix:LAT,LON[,ACCURACY]`: one fix, WGS-84 degrees, accuracy in metres.
struct FixSource {
  static constexpr double kDefaultAccuracy = 5.0;
  double latitude = 0.0;
  double longitude = 0.0;
  double accuracy = kDefaultAccuracy;
  bool operator==(const FixSource&) const = default;
};

/// Where `tovik locate` takes its fixes from.
using LocationSource = std::variant<AutoSource, GpsdSource, GeoclueSource, NmeaSource, FixSource>;

/// Reads the text of `--source`; a `UsageError` says what is wrong with it.
LocationSource parseLocationSource(std::string_view text);

/// The location provider a source names.
std::shared_ptr<LocationProvider> makeProvider(const LocationSource& source);

}  // namespace tovik::cli
