#include "tools/tovik/location_source.h"

#include <charconv>
#include <string>
#include <system_error>

#include "tools/tovik/fixed_location_provider.h"
#include "tools/tovik/number_arguments.h"
#include "tools/tovik/usage_error.h"
#include "tovik/providers/automatic_location_provider.h"
#include "tovik/providers/geoclue_location_provider.h"
#include "tovik/providers/nmea_replay_provider.h"

namespace tovik::cli {
namespace {

constexpr std::string_view kForms = "auto, gpsd[:HOST[:PORT]], geoclue, nmea:FILE[@SPEED] or fix:LAT,LON[,ACCURACY]";

[[noreturn]] void reject(const std::string& why) { throw UsageError("--source: " + why); }

std::uint16_t portOf(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535) {
    reject("gpsd port must be a number from 1 to 65535, got '" + std::string(text) + "'");
  }
  return static_cast<std::uint16_t>(value);
}

// After "gpsd:": HOST, HOST:PORT, [IPV6] or [IPV6]:PORT; an empty host keeps the default.
GpsdSource gpsdSource(std::string_view rest) {
  GpsdSource source;
  std::string_view host = rest;
  std::string_view port;
  if (rest.starts_with('[')) {
    const auto close = rest.find(']');
    if (close == std::string_view::npos) {
      reject("missing ']' after the IPv6 address in 'gpsd:" + std::string(rest) + "'");
    }
    host = rest.substr(1, close - 1);
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (!after.starts_with(':')) {
        reject("expected ':PORT' after ']' in 'gpsd:" + std::string(rest) + "'");
      }
      port = after.substr(1);
      if (port.empty()) reject("gpsd port is empty");
    }
  } else if (const auto colon = rest.find(':'); colon != std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (port.find(':') != std::string_view::npos) {
      reject("write an IPv6 address in brackets, as in gpsd:[::1]:2947");
    }
    if (port.empty()) reject("gpsd port is empty");
  }
  if (!host.empty()) source.host = std::string(host);
  if (!port.empty()) source.port = portOf(port);
  return source;
}

NmeaSource nmeaSource(std::string_view rest) {
  NmeaSource source;
  source.path = std::string(rest);
  if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
    const std::string_view speedText = rest.substr(at + 1);
    if (const auto speed = readNumber(speedText)) {
      if (*speed < 0.0) {
        reject("replay speed must be 0 (as fast as possible) or positive, got '" + std::string(speedText) + "'");
      }
      source.speed = *speed;
      source.path = std::string(rest.substr(0, at));
    }
  }
  if (source.path.empty()) {
    reject("nmea needs a file: nmea:FILE[@SPEED]");
  }
  return source;
}

FixSource fixSource(std::string_view rest) {
  static constexpr std::string_view kNames[] = {"latitude", "longitude", "accuracy"};
  double values[3] = {0.0, 0.0, FixSource::kDefaultAccuracy};
  std::size_t count = 0;
  std::size_t start = 0;
  while (true) {
    const auto comma = rest.find(',', start);
    const std::string_view part = rest.substr(start, comma == std::string_view::npos ? rest.npos : comma - start);
    if (count == 3) {
      reject("fix takes LAT,LON[,ACCURACY], got 'fix:" + std::string(rest) + "'");
    }
    const auto value = readNumber(part);
    if (!value) {
      reject("fix " + std::string(kNames[count]) + ": expected a number, got '" + std::string(part) + "'");
    }
    values[count++] = *value;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (count < 2) {
    reject("fix takes LAT,LON[,ACCURACY], got 'fix:" + std::string(rest) + "'");
  }
  return FixSource{.latitude = values[0], .longitude = values[1], .accuracy = values[2]};
}

}  // namespace

LocationSource parseLocationSource(std::string_view text) {
  const auto colon = text.find(':');
  const std::string_view kind = text.substr(0, colon);
  const std::string_view rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  if (text == "auto") {
    return AutoSource{};
  }
  if (text == "geoclue") {
    return GeoclueSource{};
  }
  if (kind == "gpsd") {
    return gpsdSource(rest);
  }
  if (kind == "nmea") {
    return nmeaSource(rest);
  }
  if (kind == "fix") {
    return fixSource(rest);
  }
  reject("unknown source '" + std::string(text) + "' (use " + std::string(kForms) + ")");
}

std::shared_ptr<LocationProvider> makeProvider(const LocationSource& source) {
  struct Maker {
    std::shared_ptr<LocationProvider> operator()(const AutoSource&) const {
      return std::make_shared<AutomaticLocationProvider>();
    }
    std::shared_ptr<LocationProvider> operator()(const GeoclueSource&) const {
      return std::make_shared<GeoclueLocationProvider>();
    }
    std::shared_ptr<LocationProvider> operator()(const GpsdSource& s) const {
      return std::make_shared<GpsdLocationProvider>(s.host, s.port);
    }
    std::shared_ptr<LocationProvider> operator()(const NmeaSource& s) const {
      return std::make_shared<NmeaReplayProvider>(s.path, s.speed);
    }
    std::shared_ptr<LocationProvider> operator()(const FixSource& s) const {
      Location fix;
      fix.coordinate = {.latitude = s.latitude, .longitude = s.longitude};
      fix.horizontalAccuracy = s.accuracy;
      return std::make_shared<FixedLocationProvider>(fix);
    }
  };
  return std::visit(Maker{}, source);
}

}  // namespace tovik::cli
