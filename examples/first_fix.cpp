// first_fix: the kit's main road in one page. Replays a recorded walk as the device's
// location source, runs a continuous session and prints each result.
//
//   example_first_fix [track.nmea] [service-url]
//
// With a service URL (for example http://127.0.0.1:8600, where tovik-service listens) each
// fix goes to the location service; without one the example acts as if the device were
// offline, so every fix comes back at once as a local GCJ-02 result.

#include <chrono>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <tovik/tovik.h>

#include "tovik/model/location_res.h"
#include "tovik/network/network_checker.h"

namespace {

constexpr int kWantedResults = 5;

// The application's side: the kit calls these on the main queue.
class PrintingDelegate : public tovik::LocationDelegate {
 public:
  void onReceivedLocationWithTkLocation(const std::shared_ptr<tovik::LocationRes>& result) override {
    const auto& point = *result->location->position->point;
    ++received;
    std::cout << "result " << received << ": " << std::fixed << std::setprecision(6) << point.latitude << ", "
              << point.longitude << " at " << result->location->timestamp << " ms\n";
  }

  void onLocationErrorWithMsg(const std::string& msg) override {
    std::cerr << "error: " << msg << '\n';
    failed = true;
  }

  int received = 0;
  bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string track = argc > 1 ? argv[1] : "data/beijing_walk.nmea";
  const std::optional<std::string> serviceURL = argc > 2 ? std::optional<std::string>(argv[2]) : std::nullopt;

  // Where fixes come from: the recorded walk, replayed twice as fast as it was walked.
  tovik::LocationServices::setProvider(std::make_shared<tovik::NmeaReplayProvider>(track, 2.0));
  // Like a phone app, the host declares why it wants the location.
  tovik::Bundle::main().setObject("NSLocationWhenInUseUsageDescription", std::string("Shows where you are"));

  tovik::TkClientLocation::setIsLogEnabled(true);  // the kit's own log lines, for learning
  auto delegate = std::make_shared<PrintingDelegate>();
  auto client = tovik::TkClientLocation::create(delegate);
  client->setAgreePrivacy(true);
  client->initKey("demo");
  if (serviceURL) {
    client->serviceURL = *serviceURL;
  } else {
    // No service: the kit is told it is offline and answers from the fix alone.
    tovik::NetworkChecker::setFlagsSource([] { return std::optional<std::uint32_t>(0); });
  }

  // A continuous session: one result at the first fix, then one per second.
  client->isLocateOnce = false;
  client->interval = 1.0;
  client->startLocation();

  tovik::MainQueue::shared().runUntil([&] { return delegate->received >= kWantedResults || delegate->failed; },
                                      std::chrono::seconds(60));
  client->stopLocation();
  return delegate->received >= kWantedResults ? 0 : 1;
}
