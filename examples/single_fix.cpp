// single_fix: one fast fix, while the host application keeps its own event loop and lets
// the kit's main queue run from it.
//
//   example_single_fix [track.nmea] [service-url]
//
// With a service URL the fix goes to the location service; without one the example acts
// as if the device were offline, so the fix comes back at once as a local GCJ-02 result.

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <tovik/tovik.h>

namespace {

class FixPrinter : public tovik::LocationDelegate {
 public:
  void onReceivedLocationWithTkLocation(const std::shared_ptr<tovik::LocationRes>& result) override {
    const auto& point = *result->location->position->point;
    std::cout << "fix: " << std::fixed << std::setprecision(6) << point.latitude << ", " << point.longitude << '\n';
    if (result->location->address) {
      std::cout << "address: " << result->location->address->name << '\n';
    }
    located = true;
  }

  void onLocationErrorWithMsg(const std::string& msg) override {
    std::cerr << "error: " << msg << '\n';
    failed = true;
  }

  bool located = false;
  bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string track = argc > 1 ? argv[1] : "data/beijing_walk.nmea";
  tovik::LocationServices::setProvider(std::make_shared<tovik::NmeaReplayProvider>(track, 4.0));
  tovik::Bundle::main().setObject("NSLocationWhenInUseUsageDescription", std::string("Shows where you are"));

  auto printer = std::make_shared<FixPrinter>();
  auto client = tovik::TkClientLocation::create(printer);
  client->setAgreePrivacy(true);
  client->initKey("demo");
  if (argc > 2) {
    client->serviceURL = argv[2];
  } else {
    // No service: the kit is told it is offline and answers from the fix alone.
    tovik::NetworkChecker::setFlagsSource([] { return std::optional<std::uint32_t>(0); });
  }

  // The best fix of a short sampling window; the session ends by itself after it.
  client->startFastLocation();

  // The host's own loop: it sleeps in poll() on its own descriptors (here: none) and the
  // kit's, for as long as the kit's next timer allows, and lets the kit run what is ready when
  // it wakes. All callbacks happen inside MainQueue::poll(); nothing wakes while nothing waits.
  auto& queue = tovik::MainQueue::shared();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!printer->located && !printer->failed && std::chrono::steady_clock::now() < deadline) {
    pollfd kit{.fd = queue.fd(), .events = POLLIN, .revents = 0};
    const auto remaining =
        std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
    const auto sleep = std::min(queue.nextTimeout().value_or(remaining), remaining);
    ::poll(&kit, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(sleep).count()));
    queue.poll();
  }
  return printer->located ? 0 : 1;
}
