#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovik/model/address_info.h"
#include "tovik/model/decodable.h"
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

  /// A missing or null "categories" leaves `categories` absent.
  /// Throws `DecodingError`; never returns a partly filled object.
  static std::shared_ptr<GeocodeRes> decode(const nlohmann::json& json);
  /// Leaves out "categories" when absent.
  nlohmann::json encode() const;

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

/// Decodes a whole answer: the top level must be an array, and every element must decode,
/// or the whole answer fails (the error path names the failing index). Keeps the order.
TOVIK_API std::vector<std::shared_ptr<GeocodeRes>> decodeGeocodeList(const nlohmann::json& json);

template <>
struct TOVIK_API Decodable<std::vector<std::shared_ptr<GeocodeRes>>> {
  static std::vector<std::shared_ptr<GeocodeRes>> decode(const nlohmann::json& json) { return decodeGeocodeList(json); }
};

}  // namespace tovik
