#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <variant>

#include "tovik/system/location.h"

namespace tovik {

/// The sentences of an NMEA 0183 log that a replay uses, as parsed by `NmeaParser`.
/// Empty fields are absent values. Times are UTC times of day.

/// GGA: the fix itself.
struct NmeaGga {
  std::string talker;                                // "GP", "GN", "BD", ...
  std::optional<std::chrono::milliseconds> time;     // since midnight UTC
  std::optional<Coordinate> position;                // WGS-84 decimal degrees
  int quality = 0;                                   // 0 = no fix
  std::optional<int> satellites;
  std::optional<double> hdop;
  std::optional<double> altitudeMsl;                 // metres above mean sea level
  std::optional<double> geoidSeparation;             // metres, ellipsoid above geoid
};

/// RMC: the recommended minimum, with the date, speed and course.
struct NmeaRmc {
  std::string talker;
  std::optional<std::chrono::milliseconds> time;
  bool valid = false;                                // status 'A' (and mode not 'N')
  std::optional<Coordinate> position;
  std::optional<double> speedKnots;
  std::optional<double> course;                      // degrees from true north
  std::optional<std::chrono::year_month_day> date;
};

/// GSA: the dilutions of precision.
struct NmeaGsa {
  std::string talker;
  int fixType = 1;                                   // 1 none, 2 two-dimensional, 3 three-dimensional
  std::optional<double> pdop;
  std::optional<double> hdop;
  std::optional<double> vdop;
};

using NmeaSentence = std::variant<NmeaGga, NmeaRmc, NmeaGsa>;

}  // namespace tovik
