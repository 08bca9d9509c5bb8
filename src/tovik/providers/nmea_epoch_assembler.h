#pragma once

#include <optional>

#include "tovik/system/location.h"
#include "tovik/providers/nmea_sentence.h"

namespace tovik {

/// Gathers the sentences of one epoch (one UTC time) of an NMEA log into one `Location`.
///
/// An epoch needs a GGA and an RMC with a fix (GGA quality above 0, RMC status 'A') and an
/// RMC date. Position and altitude come from GGA (altitude above the ellipsoid: mean sea
/// level plus the geoid separation when the log gives it); speed, course and the time
/// stamp from RMC. Accuracies are dilutions of precision times a user equivalent range
/// error of 5 m, a usual one-sigma figure for single-frequency GNSS: horizontal from HDOP
/// (GGA, else GSA), vertical from GSA's VDOP; -1 where the log gives no DOP.
class NmeaEpochAssembler {
 public:
  static constexpr double kUereMetres = 5.0;
  static constexpr double kMetresPerSecondPerKnot = 0.514444;

  /// Adds the next sentence of the log; returns the previous epoch's fix when this
  /// sentence begins a new epoch and that epoch had one.
  std::optional<Location> add(const NmeaSentence& sentence);
  /// Ends the log; returns the last epoch's fix, if it had one.
  std::optional<Location> finish();

 private:
  struct Epoch {
    std::optional<std::chrono::milliseconds> time;
    std::optional<NmeaGga> gga;
    std::optional<NmeaRmc> rmc;
    std::optional<NmeaGsa> gsa;
  };

  std::optional<Location> closeEpoch();
  std::optional<Location> beginEpochAt(std::chrono::milliseconds time);

  Epoch current_;
  std::optional<NmeaGsa> nextGsa_;  // a GSA that arrived after a complete epoch
};

}  // namespace tovik
