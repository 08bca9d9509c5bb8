#include "tovik/geofence/geofence.h"

#include <cmath>
#include <cstddef>
#include <span>

#include "tovik/geofence/fence_shape.h"

namespace tovik {
namespace {

constexpr GeofenceTransitions kEveryTransition =
    GeofenceTransition::enter | GeofenceTransition::exit | GeofenceTransition::dwell;

bool inRange(Coordinate c) {
  return std::isfinite(c.latitude) && std::isfinite(c.longitude) && std::abs(c.latitude) <= 90.0 &&
         std::abs(c.longitude) <= 180.0;
}

// The vertices of a ring without the closing repeat of the first.
std::span<const Coordinate> openRing(const std::vector<Coordinate>& ring) {
  std::span<const Coordinate> open(ring);
  if (open.size() > 1 && open.front().latitude == open.back().latitude &&
      open.front().longitude == open.back().longitude) {
    open = open.first(open.size() - 1);
  }
  return open;
}

// Twice the area the ring encloses, in square degrees (the shoelace formula): zero for a ring
// that encloses nothing, as on any plane that is an affine map of latitude and longitude.
double doubleArea(std::span<const Coordinate> ring) {
  double sum = 0.0;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const Coordinate& a = ring[i];
    const Coordinate& b = ring[(i + 1) % ring.size()];
    sum += a.longitude * b.latitude - b.longitude * a.latitude;
  }
  return std::abs(sum);
}

std::optional<std::string> ringProblem(const std::vector<Coordinate>& ring, const std::string& name) {
  for (const Coordinate& c : ring) {
    if (!inRange(c)) return "a vertex of the " + name + " is not a latitude and longitude in range";
  }
  const auto open = openRing(ring);
  if (open.size() < 3) return "the " + name + " has fewer than three vertices";
  if (!(doubleArea(open) > 0.0)) return "the " + name + " encloses no area";
  return std::nullopt;
}

std::optional<std::string> shapeProblem(const GeofenceCircle& circle) {
  if (!inRange(circle.center)) return "the centre is not a latitude and longitude in range";
  if (!(circle.radius > 0.0) || !std::isfinite(circle.radius)) return "the radius must be a number of metres above 0";
  const FenceShape::Box box = FenceShape::circleBounds(circle);
  if (box.south <= -90.0 || box.north >= 90.0) return "the circle reaches a pole";
  if (box.west < -180.0 || box.east > 180.0) return "the circle crosses the 180th meridian";
  return std::nullopt;
}

std::optional<std::string> shapeProblem(const GeofencePolygon& polygon) {
  if (auto problem = ringProblem(polygon.ring, "ring")) return problem;
  for (const auto& hole : polygon.holes) {
    if (auto problem = ringProblem(hole, "hole")) return problem;
  }
  return std::nullopt;
}

}  // namespace

const char* geofenceTransitionName(GeofenceTransition transition) {
  switch (transition) {
    case GeofenceTransition::enter:
      return "enter";
    case GeofenceTransition::exit:
      return "exit";
    case GeofenceTransition::dwell:
      return "dwell";
  }
  return "unknown";
}

std::optional<std::string> Geofence::problem() const {
  if (id.empty()) return "the id is empty";
  if (auto problem = std::visit([](const auto& s) { return shapeProblem(s); }, shape)) return problem;
  if (transitions == 0 || (transitions & ~kEveryTransition) != 0) {
    return "the transitions must be some of enter, exit and dwell";
  }
  if (!(loiteringDelay >= 0.0) || !std::isfinite(loiteringDelay)) {
    return "the loitering delay must be a number of seconds, 0 or more";
  }
  if (!(expiry > 0.0)) return "the expiry must be a number of seconds above 0 (infinity: never)";
  if (exitBand && (!(*exitBand >= 0.0) || !std::isfinite(*exitBand))) {
    return "the exit band must be a number of metres, 0 or more";
  }
  if (exitConfirmations < 1) return "the exit confirmations must be 1 or more";
  return std::nullopt;
}

}  // namespace tovik
