// reverse_geocode: asks the location service which address lies at a GPS (WGS-84) coordinate.
//
//   example_reverse_geocode <service-url> [latitude longitude] [access-key]
//
// The service reads GCJ-02: a point from a receiver is passed with its datum, and the kit
// converts it (over China the two differ by some 500 m).
//
// For example `example_reverse_geocode http://127.0.0.1:8600 39.9087 116.3975` against
// tovik-service. The answer arrives on the main queue, which main() drives until it comes.

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include <tovik/tovik.h>

namespace {

class AddressPrinter : public tovik::LocationDelegate {
 public:
  // Required, though a reverse geocode never sends a located result.
  void onReceivedLocationWithTkLocation(const std::shared_ptr<tovik::LocationRes>&) override {}

  void onLocationErrorWithMsg(const std::string& msg) override {
    std::cerr << "error: " << msg << '\n';
    done = true;
  }

  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<tovik::LocationRes>& result) override {
    const tovik::LocationDetail& detail = *result->location;
    if (detail.address) {
      std::cout << "address: " << detail.address->name << '\n';
      for (const auto& level : detail.address->context) {
        std::cout << "  " << level->type << ": " << level->name << " (" << level->code << ")\n";
      }
    }
    if (detail.place) {
      std::cout << "nearest place: " << detail.place->name << ", " << detail.place->distance->line << " away\n";
    }
    std::cout << "point: " << detail.position->point->latitude << ", " << detail.position->point->longitude << '\n';
    found = true;
    done = true;
  }

  bool done = false;
  bool found = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4 && argc != 5) {
    std::cerr << "usage: " << argv[0] << " <service-url> [latitude longitude] [access-key]\n";
    return 2;
  }
  const double latitude = argc >= 4 ? std::atof(argv[2]) : 39.908722;
  const double longitude = argc >= 4 ? std::atof(argv[3]) : 116.397499;

  auto printer = std::make_shared<AddressPrinter>();
  auto client = tovik::TkClientLocation::create(printer);
  if (!client->setServiceURL(argv[1])) {
    std::cerr << "unusable service address: " << *tovik::TkClientLocation::serviceURLProblem(argv[1]) << '\n';
    return 2;
  }
  client->setAgreePrivacy(true);  // only after the user agreed, in a real application
  client->initKey(argc == 5 ? argv[4] : "demo");

  client->getReverseCode(latitude, longitude, tovik::Datum::wgs84);
  tovik::MainQueue::shared().runUntil([&] { return printer->done; }, std::chrono::seconds(35));
  return printer->found ? 0 : 1;
}
