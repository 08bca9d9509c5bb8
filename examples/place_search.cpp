// place_search: a keyword search for places in a city, then a nearby search around the
// first place found.
//
//   example_place_search <service-url> <keywords> [city] [access-key]
//
// For example `example_place_search http://127.0.0.1:8600 公园 北京` against tovik-service.

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <tovik/tovik.h>

namespace {

using PlaceList = std::vector<std::shared_ptr<tovik::GeocodeRes>>;

class PlacePrinter : public tovik::LocationDelegate {
 public:
  void onReceivedLocationWithTkLocation(const std::shared_ptr<tovik::LocationRes>&) override {}

  void onLocationErrorWithMsg(const std::string& msg) override {
    std::cerr << "error: " << msg << '\n';
    failed = true;
  }

  // Both searches answer here, in the order their answers arrive.
  void onReceivedPoiSearchWithResult(const PlaceList& result) override {
    std::cout << (answers == 0 ? "places:" : "nearby:") << '\n';
    for (const auto& place : result) {
      std::cout << "  " << place->name << " [" << place->geoPoint << "] " << place->address->name;
      if (place->categories && !place->categories->empty()) {
        std::cout << " (" << place->categories->front()->name << ")";
      }
      std::cout << '\n';
    }
    if (answers == 0 && !result.empty()) {
      firstPoint = result.front()->geoPoint;
    }
    ++answers;
  }

  int answers = 0;
  bool failed = false;
  std::string firstPoint;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::cerr << "usage: " << argv[0] << " <service-url> <keywords> [city] [access-key]\n";
    return 2;
  }
  const std::string keywords = argv[2];
  const std::string city = argc > 3 ? argv[3] : "";

  auto printer = std::make_shared<PlacePrinter>();
  auto client = tovik::TkClientLocation::create(printer);
  client->serviceURL = argv[1];
  client->setAgreePrivacy(true);
  client->initKey(argc > 4 ? argv[4] : "demo");
  auto& queue = tovik::MainQueue::shared();
  const auto timeout = std::chrono::seconds(35);

  // Page 1, ten places per page; the city code may stay empty when the city is named.
  client->poiKeySearch(keywords, "", city, 1, 10);
  if (!queue.runUntil([&] { return printer->answers == 1 || printer->failed; }, timeout) || printer->failed) {
    return 1;
  }
  if (printer->firstPoint.empty()) {
    std::cout << "nothing found\n";
    return 0;
  }

  // Within 1000 m of the first place ("longitude,latitude"), nearest first.
  client->poiNearbySearch(keywords, printer->firstPoint, 1000, "", "distance", 1, 10);
  queue.runUntil([&] { return printer->answers == 2 || printer->failed; }, timeout);
  return printer->answers == 2 ? 0 : 1;
}
