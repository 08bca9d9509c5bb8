#pragma once

#include <memory>
#include <string>

#include "server/place.h"
#include "server/place_store.h"
#include "tovik/model/address_info.h"

namespace tovik::server {

/// Builds the address block of a place: the context from the widest level to the narrowest
/// — {"type": "country"}, {"type": "region"} (first-level division), {"type": "city"}
/// (second-level division, or the place itself when the data has none) — each with its
/// display name and code (ISO 3166-1 alpha-2 for the country, GB/T 2260 for China's
/// provinces, GeoNames' codes otherwise), and a one-line name from the narrowest to the
/// widest, levels joined by ", " with repeats left out ("Haidian, Beijing, 北京市, 中国").
class AddressComposer {
 public:
  explicit AddressComposer(std::shared_ptr<const PlaceStore> store) : store_(std::move(store)) {}

  /// The address of a place, in the country its own data names.
  std::shared_ptr<AddressInfo> compose(const Place& place) const;
  /// The address of a point: `country` is the alpha-2 code of the boundary holding it, or
  /// empty at sea, where the context starts below the country; `place` gives the levels
  /// below (a place of that country, or at sea the nearest place), or is null when the
  /// country has no place near, leaving the country alone.
  std::shared_ptr<AddressInfo> composeAt(const std::string& country, const Place* place) const;

 private:
  std::shared_ptr<const PlaceStore> store_;
};

}  // namespace tovik::server
