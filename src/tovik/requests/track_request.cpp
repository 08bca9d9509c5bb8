#include "tovik/requests/track_request.h"

#include <optional>

#include "tovik/system/device.h"
#include "tovik/system/location.h"
#include "tovik/model/json_fields.h"
#include "tovik/requests/request_stamp.h"

namespace tovik {

TrackRequest TrackRequest::assemble(const Location& fix, const Device& device) {
  AssetInfo asset{.id = RequestStamp::deviceId(device),
                  .manufacturer = device.manufacturer,
                  .model = device.model,
                  .os = OSInfo{.type = device.systemName, .version = device.systemVersion}};

  // The comparisons are written so that NaN falls to the "unknown" side.
  GnssData gnss{.point = {.longitude = fix.coordinate.longitude, .latitude = fix.coordinate.latitude},
                .accuracy = fix.horizontalAccuracy > 0 ? fix.horizontalAccuracy : 0.0,
                .altitude = fix.altitude,
                .verticalAccuracy = fix.verticalAccuracy > 0 ? std::optional(fix.verticalAccuracy) : std::nullopt,
                .velocity = fix.speed >= 0 ? std::optional(fix.speed) : std::nullopt};

  return {.timestamp = RequestStamp::milliseconds(),
          .id = RequestStamp::requestId(),
          .asset = std::move(asset),
          .location = {.gnss = gnss}};
}

nlohmann::json TrackRequest::encode() const {
  return {{"timestamp", timestamp}, {"id", id}, {"asset", asset.encode()}, {"location", location.encode()}};
}

TrackRequest TrackRequest::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return {.timestamp = fields.requiredWholeInt64("timestamp"),
          .id = fields.requiredString("id"),
          .asset = fields.requiredRecord<AssetInfo>("asset"),
          .location = fields.requiredRecord<TrackLocation>("location")};
}

}  // namespace tovik
