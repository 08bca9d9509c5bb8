#include "tools/tovik/geojson_fences.h"

#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/tovik/usage_error.h"

namespace tovik::cli {
namespace {

using nlohmann::json;

[[noreturn]] void reject(const std::string& why) { throw UsageError("FENCES: " + why); }

// Reading one feature: every complaint names it.
class FeatureReader {
 public:
  FeatureReader(const json& feature, std::size_t number) : feature_(feature), name_("feature " + std::to_string(number)) {}

  Geofence read() {
    if (!feature_.is_object() || feature_.value("type", json()) != "Feature") fail("not a GeoJSON Feature");
    // GeoJSON allows null for no properties.
    json properties = feature_.value("properties", json::object());
    if (properties.is_null()) properties = json::object();
    if (!properties.is_object()) fail("properties must be an object");
    Geofence fence;
    fence.id = idOf(properties.contains("id") ? properties["id"] : feature_.value("id", json()));
    name_ += " (" + fence.id + ")";
    fence.shape = shapeOf(feature_.value("geometry", json()), properties);
    if (properties.contains("datum")) {
      const json& datum = properties["datum"];
      const auto named = datum.is_string() ? datumNamed(datum.get<std::string>()) : std::nullopt;
      if (!named) fail("unknown datum " + datum.dump() + " (use wgs84, gcj02 or bd09)");
      fence.datum = *named;
    }
    if (properties.contains("transitions")) fence.transitions = transitionsOf(properties["transitions"]);
    if (properties.contains("loiter")) fence.loiteringDelay = numberOf(properties["loiter"], "loiter (seconds)");
    if (const auto problem = fence.problem()) fail(*problem);
    return fence;
  }

 private:
  [[noreturn]] void fail(const std::string& why) const { reject(name_ + ": " + why); }

  std::string idOf(const json& id) const {
    if (id.is_string() && !id.get<std::string>().empty()) return id.get<std::string>();
    if (id.is_number_integer()) return id.dump();
    fail("needs an id (properties.id, text or a whole number)");
  }

  double numberOf(const json& value, const std::string& what) const {
    if (!value.is_number()) fail(what + " must be a number, got " + value.dump());
    return value.get<double>();
  }

  Coordinate positionOf(const json& position) const {
    if (!position.is_array() || position.size() < 2 || !position[0].is_number() || !position[1].is_number()) {
      fail("a position must be [longitude, latitude], got " + position.dump());
    }
    return {position[1].get<double>(), position[0].get<double>()};
  }

  std::vector<Coordinate> ringOf(const json& ring) const {
    if (!ring.is_array()) fail("a ring must be a list of positions");
    std::vector<Coordinate> points;
    for (const json& position : ring) points.push_back(positionOf(position));
    return points;
  }

  std::variant<GeofenceCircle, GeofencePolygon> shapeOf(const json& geometry, const json& properties) const {
    const json type = geometry.is_object() ? geometry.value("type", json()) : json();
    const json coordinates = geometry.is_object() ? geometry.value("coordinates", json()) : json();
    if (type == "Point") {
      if (!properties.contains("radius")) fail("a Point needs a radius in metres among its properties");
      return GeofenceCircle{positionOf(coordinates), numberOf(properties["radius"], "radius (metres)")};
    }
    if (type == "Polygon") {
      if (!coordinates.is_array() || coordinates.empty()) fail("a Polygon needs its rings");
      GeofencePolygon polygon{.ring = ringOf(coordinates[0]), .holes = {}};
      for (std::size_t i = 1; i < coordinates.size(); ++i) polygon.holes.push_back(ringOf(coordinates[i]));
      return polygon;
    }
    fail("the geometry must be a Point or a Polygon, got " + (type.is_string() ? type.get<std::string>() : type.dump()));
  }

  GeofenceTransitions transitionsOf(const json& value) const {
    const json list = value.is_array() ? value : json::array({value});
    GeofenceTransitions transitions = 0;
    for (const json& one : list) {
      const auto is = [&](GeofenceTransition t) { return one == geofenceTransitionName(t); };
      if (is(GeofenceTransition::enter)) {
        transitions = transitions | GeofenceTransition::enter;
      } else if (is(GeofenceTransition::exit)) {
        transitions = transitions | GeofenceTransition::exit;
      } else if (is(GeofenceTransition::dwell)) {
        transitions = transitions | GeofenceTransition::dwell;
      } else {
        fail("unknown transition " + one.dump() + " (use enter, exit or dwell)");
      }
    }
    return transitions;
  }

  const json& feature_;
  std::string name_;
};

}  // namespace

std::vector<Geofence> readGeofences(std::string_view text) {
  json document;
  try {
    document = json::parse(text);
  } catch (const json::parse_error& error) {
    reject("not JSON (byte " + std::to_string(error.byte) + ")");
  }
  if (!document.is_object() || document.value("type", json()) != "FeatureCollection" ||
      !document.value("features", json()).is_array()) {
    reject("expected a GeoJSON FeatureCollection");
  }
  const json& features = document["features"];
  if (features.empty()) reject("the collection holds no features");
  std::vector<Geofence> fences;
  std::map<std::string, std::size_t> seen;
  for (std::size_t i = 0; i < features.size(); ++i) {
    fences.push_back(FeatureReader(features[i], i + 1).read());
    const auto [earlier, fresh] = seen.emplace(fences.back().id, i + 1);
    if (!fresh) {
      reject("feature " + std::to_string(i + 1) + ": the id " + fences.back().id + " is feature " +
             std::to_string(earlier->second) + "'s already");
    }
  }
  return fences;
}

}  // namespace tovik::cli
