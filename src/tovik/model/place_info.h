#pragma once

#include <memory>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

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

  /// Throws `DecodingError`; never returns a partly filled object.
  static std::shared_ptr<PlaceInfo> decode(const nlohmann::json& json);
  nlohmann::json encode() const;

  std::string type;                        ///< the place's kind
  std::string name;                        ///< its name
  std::shared_ptr<DistanceInfo> distance;  ///< how far it is
};

}  // namespace tovik
