#include "server/country_boundaries.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <fstream>
#include <map>
#include <optional>

#include <nlohmann/json.hpp>

#include "server/city_importer.h"
#include "server/region_names.h"

namespace tovik::server {

namespace {

using nlohmann::json;

struct Point {
  double latitude = 0.0;
  double longitude = 0.0;
};

/// The arcs of the topology, decoded to degrees.
std::vector<std::vector<Point>> decodeArcs(const json& topology, const std::string& where) {
  const auto transform = topology.find("transform");
  double scale[2] = {1.0, 1.0};
  double translate[2] = {0.0, 0.0};
  const bool quantised = transform != topology.end();
  if (quantised) {
    const auto& s = transform->at("scale");
    const auto& t = transform->at("translate");
    scale[0] = s.at(0).get<double>();
    scale[1] = s.at(1).get<double>();
    translate[0] = t.at(0).get<double>();
    translate[1] = t.at(1).get<double>();
  }
  const auto arcs = topology.find("arcs");
  if (arcs == topology.end() || !arcs->is_array()) {
    throw ImportError(where + ": no \"arcs\" array");
  }
  std::vector<std::vector<Point>> decoded;
  decoded.reserve(arcs->size());
  for (const auto& arc : *arcs) {
    std::vector<Point> points;
    points.reserve(arc.size());
    double x = 0.0;
    double y = 0.0;
    for (const auto& position : arc) {
      if (quantised) {
        // Quantised positions are deltas from the previous one.
        x += position.at(0).get<double>();
        y += position.at(1).get<double>();
      } else {
        x = position.at(0).get<double>();
        y = position.at(1).get<double>();
      }
      const double longitude = quantised ? x * scale[0] + translate[0] : x;
      const double latitude = quantised ? y * scale[1] + translate[1] : y;
      if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::fabs(latitude) > 90.0 ||
          std::fabs(longitude) > 180.0) {
        throw ImportError(where + ": a position lies outside the globe");
      }
      points.push_back(Point{latitude, longitude});
    }
    decoded.push_back(std::move(points));
  }
  return decoded;
}

/// Edge list of one polygon cut into bands.
void slicePolygon(const std::vector<std::vector<Point>>& arcs, const json& rings, const std::string& country,
                  std::int64_t polygon, const std::string& where, std::vector<BoundarySlice>& out) {
  std::map<int, BoundarySlice> bands;
  for (const auto& ring : rings) {
    for (const auto& index : ring) {
      // A negative index ~i is arc i walked backwards; direction does not matter to the
      // even-odd rule, and each ring's arcs together give its closed edge chain.
      const auto signedIndex = index.get<std::int64_t>();
      const auto arcIndex = static_cast<std::size_t>(signedIndex >= 0 ? signedIndex : ~signedIndex);
      if (arcIndex >= arcs.size()) {
        throw ImportError(where + ": arc " + std::to_string(signedIndex) + " does not exist");
      }
      const auto& points = arcs[arcIndex];
      for (std::size_t k = 1; k < points.size(); ++k) {
        const Point& a = points[k - 1];
        const Point& b = points[k];
        // The even-odd rule counts only edges that span the point's latitude: horizontal
        // edges never do. Rounding to float happens once per vertex, so chains stay closed.
        const auto aLat = static_cast<float>(a.latitude);
        const auto bLat = static_cast<float>(b.latitude);
        if (aLat == bLat) {
          continue;
        }
        const int first = CountryBoundaries::bandOf(std::min<double>(aLat, bLat));
        const int last = CountryBoundaries::bandOf(std::max<double>(aLat, bLat));
        for (int band = first; band <= last; ++band) {
          auto [it, fresh] = bands.try_emplace(band);
          BoundarySlice& slice = it->second;
          if (fresh) {
            slice.country = country;
            slice.polygon = polygon;
            slice.band = band;
            slice.west = std::min(a.longitude, b.longitude);
            slice.east = std::max(a.longitude, b.longitude);
          }
          slice.west = std::min({slice.west, a.longitude, b.longitude});
          slice.east = std::max({slice.east, a.longitude, b.longitude});
          slice.edges.insert(slice.edges.end(),
                             {aLat, static_cast<float>(a.longitude), bLat, static_cast<float>(b.longitude)});
        }
      }
    }
  }
  for (auto& [band, slice] : bands) {
    out.push_back(std::move(slice));
  }
}

}  // namespace

int CountryBoundaries::bandOf(double latitude) { return static_cast<int>(std::floor(latitude / kBand)); }

bool CountryBoundaries::contains(std::span<const std::byte> edges, double latitude, double longitude) {
  bool inside = false;
  constexpr std::size_t kEdgeBytes = 4 * sizeof(float);
  for (std::size_t offset = 0; offset + kEdgeBytes <= edges.size(); offset += kEdgeBytes) {
    float edge[4];
    std::memcpy(edge, edges.data() + offset, kEdgeBytes);
    const double lat1 = edge[0];
    const double lng1 = edge[1];
    const double lat2 = edge[2];
    const double lng2 = edge[3];
    if ((lat1 > latitude) != (lat2 > latitude)) {
      const double crossing = lng1 + (latitude - lat1) / (lat2 - lat1) * (lng2 - lng1);
      if (longitude < crossing) {
        inside = !inside;
      }
    }
  }
  return inside;
}

CountryBoundaries::Read CountryBoundaries::read(const std::filesystem::path& topojson) {
  const std::string where = topojson.filename().string();
  std::ifstream in(topojson, std::ios::binary);
  if (!in) {
    throw ImportError("cannot read " + topojson.string());
  }
  Read result;
  try {
    const json topology = json::parse(in);
    const auto arcs = decodeArcs(topology, where);
    const auto& geometries = topology.at("objects").at("countries").at("geometries");
    std::int64_t polygon = 0;
    std::set<std::string> countries;
    for (const auto& geometry : geometries) {
      const auto idIt = geometry.find("id");
      const std::string numeric = idIt != geometry.end() && idIt->is_string() ? idIt->get<std::string>() : "";
      std::string name;
      if (const auto properties = geometry.find("properties"); properties != geometry.end()) {
        name = properties->value("name", "");
      }
      const auto country = RegionNames::countryOfBoundary(numeric, name);
      if (!country) {
        result.skipped.push_back(name.empty() ? numeric : name);
        continue;
      }
      const std::string type = geometry.at("type").get<std::string>();
      const auto& parts = geometry.at("arcs");
      std::vector<const json*> polygons;
      if (type == "Polygon") {
        polygons.push_back(&parts);
      } else if (type == "MultiPolygon") {
        for (const auto& part : parts) {
          polygons.push_back(&part);
        }
      } else {
        throw ImportError(where + ": \"" + name + "\" is a " + type + ", not a polygon");
      }
      for (const json* rings : polygons) {
        slicePolygon(arcs, *rings, std::string(*country), ++polygon, where + ": \"" + name + "\"", result.slices);
      }
      countries.emplace(*country);
    }
    result.countries = countries.size();
    result.polygons = static_cast<std::size_t>(polygon);
  } catch (const json::exception& error) {
    throw ImportError(where + " is not a TopoJSON file of countries: " + error.what());
  }
  if (result.slices.empty()) {
    throw ImportError(where + " holds no country boundaries");
  }
  return result;
}

}  // namespace tovik::server
