#pragma once

#include <memory>
#include <vector>

#include "server/address_composer.h"
#include "server/place_store.h"
#include "server/parsed_requests.h"
#include "tovik/model/geocode_res.h"

namespace tovik::server {

/// Answers forward geocoding, keyword place search and nearby place search with lists of
/// `GeocodeRes`. Every item is a populated place: "type" and its one category are
/// "populated_place", "code" is the GeoNames code of the narrowest region holding it (usable
/// as "city_code"), "geoPoint" is "lon,lat" in GCJ-02 with six decimals, "relevance" is
/// `TextMatch`'s score (1 when nothing was asked by name) and "distance" is in metres from
/// the search centre (0 when there is none).
///
/// Forward geocoding finds places whose name matches any word of the address, the other
/// words may name its region; "city" narrows to places whose city, province or country
/// name matches. It answers the 10 best. The searches answer one page of their matches.
/// Text matches are ranked by relevance, then by how important a place is, and at most
/// `kCandidates` matches of the full-text index are considered.
class ScenarioHandler {
 public:
  static constexpr std::size_t kCandidates = 1000;
  static constexpr std::size_t kGeocodeResults = 10;
  static constexpr const char* kPlaceType = "populated_place";

  explicit ScenarioHandler(std::shared_ptr<const PlaceStore> store);

  std::vector<std::shared_ptr<GeocodeRes>> geocode(const GeocodeRequest& request) const;
  std::vector<std::shared_ptr<GeocodeRes>> placeSearch(const PlaceSearchRequest& request) const;
  std::vector<std::shared_ptr<GeocodeRes>> nearbySearch(const NearbySearchRequest& request) const;

 private:
  struct Scored {
    const Place* place = nullptr;
    double relevance = 0.0;
    double distance = 0.0;
  };

  /// Best relevance first, then the more important place, then the older id.
  static void rankByText(std::vector<Scored>& ranked);
  std::shared_ptr<GeocodeRes> item(const Scored& scored) const;
  std::vector<std::shared_ptr<GeocodeRes>> page(const std::vector<Scored>& ranked, int pageIndex, int pageSize) const;

  std::shared_ptr<const PlaceStore> store_;
  AddressComposer addresses_;
};

}  // namespace tovik::server
