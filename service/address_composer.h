#pragma once

#include <memory>

#include "service/place.h"
#include "service/place_store.h"
#include "tovik/model/address_info.h"

namespace tovik::service {

/// Builds the address block of a place: the context from the widest level to the narrowest
/// — {"type": "country"}, {"type": "region"} (first-level division), {"type": "city"}
/// (second-level division, or the place itself when the data has none) — each with its
/// display name and GeoNames code, and a one-line name from the narrowest to the widest,
/// levels joined by ", " with repeats left out ("Haidian, Beijing, 北京市, 中国").
class AddressComposer {
 public:
  explicit AddressComposer(std::shared_ptr<const PlaceStore> store) : store_(std::move(store)) {}

  std::shared_ptr<AddressInfo> compose(const Place& place) const;

 private:
  std::shared_ptr<const PlaceStore> store_;
};

}  // namespace tovik::service
