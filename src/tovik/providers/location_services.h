#pragma once

#include <memory>

#include "tovik/providers/location_provider.h"
#include "tovik/system/export.h"

namespace tovik {

/// The process-wide location provider used by every `LocationManager`.
/// The default is `AutomaticLocationProvider`: gpsd on localhost:2947 when it reports a
/// receiver, otherwise GeoClue2 on the system bus.
class TOVIK_API LocationServices {
 public:
  static std::shared_ptr<LocationProvider> provider();
  /// Replaces the provider; managers that are updating keep their old provider until
  /// they stop. None returns to the default. Call on the main thread.
  static void setProvider(std::shared_ptr<LocationProvider> provider);
};

}  // namespace tovik
