#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "tovik/system/export.h"

namespace tovik {

/// Whether the location source delivers fixes, as its watchdog sees it. A source starts out
/// available; it becomes unavailable when it falls silent for twice the interval its fixes
/// keep (sources that report changes only, such as GeoClue2, are not held to an interval) or
/// when it fails, and available again with its next fix.
struct TOVIK_API LocationAvailability {
  enum class Reason {
    resumed = 0,  ///< a fix arrived after a spell without any
    silent = 1,   ///< no fix for twice the source's expected interval
    failed = 2,   ///< the source failed (unreachable, refused, unreadable); its error follows
  };

  bool available = true;
  Reason reason = Reason::resumed;
  /// The source's name, as fixes carry it ("gpsd", "geoclue", "nmea-replay", ...).
  std::string source{};
  /// How old the source's last fix is (see `ageOf`), before the fix that ends a silence:
  /// for a resumption, how long the source was away. None before its first fix.
  std::optional<std::chrono::duration<double>> lastFixAge{};
  /// The gap the watchdog expects between fixes; zero for a source whose silence is not
  /// watched.
  std::chrono::duration<double> expectedInterval{};
};

/// "resumed", "silent" or "failed".
TOVIK_API std::string_view toString(LocationAvailability::Reason reason);

}  // namespace tovik
