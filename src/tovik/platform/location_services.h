#pragma once

#include <memory>

#include "tovik/platform/location_provider.h"

namespace tovik {

/// The process-wide location provider used by every `LocationManager`.
/// The default is gpsd on localhost:2947.
class LocationServices {
 public:
  static std::shared_ptr<LocationProvider> provider();
  /// Replaces the provider; managers that are updating keep their old provider until
  /// they stop. None returns to the default. Call on the main thread.
  static void setProvider(std::shared_ptr<LocationProvider> provider);
};

}  // namespace tovik
