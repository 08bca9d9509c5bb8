#pragma once

#include <memory>
#include <string>
#include <utility>

#include "tovik/model/distance_info.h"
#include "tovik/system/export.h"

namespace tovik {

/// The place nearest to a located result.
/// JSON: {"type": string, "name": string, "distance": DistanceInfo}.
class TOVIK_API PlaceInfo {
 public:
  /// Empty strings and a fresh default distance.
  PlaceInfo();
  PlaceInfo(std::string type, std::string name, std::shared_ptr<DistanceInfo> distance)
      : type(std::move(type)), name(std::move(name)), distance(std::move(distance)) {}

  std::string type;                        ///< the place's kind
  std::string name;                        ///< its name
  std::shared_ptr<DistanceInfo> distance;  ///< how far it is
};

}  // namespace tovik
