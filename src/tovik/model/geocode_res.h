#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tovik/model/address_info.h"
#include "tovik/model/tk_category.h"
#include "tovik/system/export.h"

namespace tovik {

/// One item of a forward-geocoding or place-search answer. `geoPoint` is the service's
/// text, passed on unparsed; `distance` is a plain number (not a `DistanceInfo`).
/// JSON: {"id", "geoPoint", "type", "name", "code": strings; "categories": [TkCategory, ...]
/// (optional); "address": AddressInfo; "relevance", "distance": numbers}.
///
/// Shared with the application like `LocationRes`; not changed by the kit once delivered.
class TOVIK_API GeocodeRes {
 public:
  /// Empty strings, zeros, no categories and a fresh default address.
  GeocodeRes();

  std::string id;        ///< the item's identifier
  std::string geoPoint;  ///< the service's text of its point, unparsed
  std::string type;      ///< its kind
  std::string name;      ///< its name
  std::string code;      ///< its administrative code
  /// Absent when the answer has none (an empty list is a list).
  std::optional<std::vector<std::shared_ptr<TkCategory>>> categories;
  std::shared_ptr<AddressInfo> address;  ///< where it is
  double relevance = 0.0;                ///< how well it matches, as the service rates it
  double distance = 0.0;                 ///< in the service's unit
};

}  // namespace tovik
