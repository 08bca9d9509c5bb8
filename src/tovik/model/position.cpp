#include "tovik/model/position.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

Position::Position() : point(std::make_shared<TkPoint>()) {}

std::shared_ptr<Position> Position::create(std::shared_ptr<TkPoint> point) {
  return std::make_shared<Position>(std::move(point));
}

std::shared_ptr<Position> JsonCodec<Position>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return std::make_shared<Position>(fields.requiredObject<TkPoint>("point"));
}

nlohmann::json JsonCodec<Position>::encode(const Position& position) {
  nlohmann::json json;
  json["point"] = JsonFields::encode(position.point);
  return json;
}

}  // namespace tovik
