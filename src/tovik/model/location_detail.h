#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "tovik/model/address_info.h"
#include "tovik/model/place_info.h"
#include "tovik/model/position.h"
#include "tovik/system/export.h"

namespace tovik {

/// The located result itself. JSON: {"timestamp": whole number, "address": AddressInfo
/// (optional), "place": PlaceInfo (optional), "position": Position}.
class TOVIK_API LocationDetail {
 public:
  /// Timestamp 0 and fresh default address, place and position: all three present.
  LocationDetail();
  LocationDetail(std::int64_t timestamp, std::shared_ptr<AddressInfo> address, std::shared_ptr<PlaceInfo> place,
                 std::shared_ptr<Position> position)
      : timestamp(timestamp), address(std::move(address)), place(std::move(place)), position(std::move(position)) {}

  /// Milliseconds since the Unix epoch.
  std::int64_t timestamp = 0;
  /// Optional: null when the answer has no address.
  std::shared_ptr<AddressInfo> address;
  /// Optional: null when the answer has no place.
  std::shared_ptr<PlaceInfo> place;
  /// Where the result lies (GCJ-02 in the kit's answers).
  std::shared_ptr<Position> position;
};

}  // namespace tovik
