#include "tovik/requests/track_location.h"

#include "tovik/model/json_fields.h"

namespace tovik {

nlohmann::json TrackLocation::encode() const { return {{"gnss", gnss.encode()}}; }

TrackLocation TrackLocation::decode(const nlohmann::json& json) {
  return {.gnss = JsonFields(json).requiredRecord<GnssData>("gnss")};
}

}  // namespace tovik
