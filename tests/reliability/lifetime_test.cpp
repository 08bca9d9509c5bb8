// The application drops its facades while everything a session can have going is in
// flight: the fused-location request, the interval timer, the fast window and the four
// other calls. Under the address and thread sanitizers this is where a use after release
// or a race shows. The server holds every answer until the test lets it go, so what the
// release must do is checked exactly: the weakly held calls do not keep their facade,
// which goes at once and is then heard of no more; the place searches keep theirs until
// each has delivered once. Every other round lets the answers go just before the release
// instead, so that they race with it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "reliability/reliability_env.h"
#include "support/test_server.h"
#include "tovik/client/tk_client_location_probe.h"
#include "tovik/location/location_controller.h"

namespace tovik::test {
namespace {

using namespace std::chrono_literals;

using LifetimeTest = ReliabilityTest;

TEST_F(LifetimeTest, ReleasedWithRequestsTimersAndFastWindowInFlight) {
  NetworkChecker::setFlagsSource([] { return NetworkChecker::kReachable; });
  std::atomic<bool> open{false};  // the server holds every answer until then
  std::atomic<int> received{0}, answered{0};
  const auto heldAnswer = [&](const char* body) {
    return [&, body](const httplib::Request&, httplib::Response& response) {
      ++received;
      for (int waited = 0; !open && waited < 30000; ++waited) std::this_thread::sleep_for(1ms);
      response.set_content(body, "application/json");
      ++answered;
    };
  };
  TestServer server;
  const std::shared_ptr<void> opensAtTheEnd(nullptr, [&](void*) { open = true; });  // before the server goes
  server.on("POST", "/location/hub/v1/track_points", heldAnswer(kLocationJson));
  for (const char* path :
       {"/location/scenario/v1/geocode", "/location/scenario/v1/placesearch", "/location/scenario/v1/nearbysearch"}) {
    server.on("GET", path, heldAnswer(kPlacesJson));
  }

  const std::chrono::milliseconds releaseAfter[] = {0ms, 1ms, 3ms, 8ms, 25ms, 60ms};
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    const bool racing = round % 2 == 1;
    open = false;
    // One facade with the weakly held calls, one in its fast window, one with the searches.
    const std::shared_ptr<Recorder> recorders[] = {std::make_shared<Recorder>(), std::make_shared<Recorder>(),
                                                   std::make_shared<Recorder>()};
    std::shared_ptr<TkClientLocation> facades[3];
    std::weak_ptr<LocationController> controllers[3];
    for (int i = 0; i < 3; ++i) {
      recorders[i]->owner = facades[i] = readyFacade(recorders[i], server.baseURL(), kAccessKey);
      controllers[i] = TkClientLocationProbe::locateDelegate(*facades[i]);
    }
    const auto &weakCalls = recorders[0], &fastWindow = recorders[1], &searches = recorders[2];
    auto &w = facades[0], &f = facades[1], &s = facades[2];

    w->isLocateOnce = false;
    w->interval = 0.01;
    consoleOf([&] { w->startLocation(); });  // its warnings stay out of the output
    f->startFastLocation();
    // A fused-location request, then the timer; the fast window opens.
    provider->pushLocation(fixAt(39.9042, 116.4074));
    w->getReverseCode(39.9, 116.4);
    w->getGeocCode("东长安街", "北京市");
    s->poiKeySearch("天安门", "110100", "北京市", 1, 10);
    s->poiNearbySearch("公园", "116.397,39.908", 1000, "", "distance", 1, 10);
    MainQueue::shared().runFor(releaseAfter[round % std::size(releaseAfter)]);
    if (racing) open = true;

    for (const auto& recorder : recorders) recorder->released = true;
    for (auto& facade : facades) facade.reset();
    if (!racing) {
      MainQueue::shared().poll();
      EXPECT_TRUE(weakCalls->owner.expired()) << "requests in flight keep the facade";
      EXPECT_TRUE(fastWindow->owner.expired()) << "the fast window keeps the facade";
      EXPECT_FALSE(searches->owner.expired()) << "the searches must keep their facade until delivered";
      open = true;
    }

    const auto allDone = [&] {
      return searches->heard.size() == 2 && answered == received && searches->owner.expired() &&
             std::ranges::all_of(controllers, [](auto& c) { return c.expired(); });
    };
    ASSERT_TRUE(runUntil(allDone, 30s)) << searches->heard.size() << " search results, " << answered << " of "
                                        << received << " answers sent";
    MainQueue::shared().runFor(20ms);  // room for anything that should not come

    EXPECT_EQ(searches->heard.size(), 2u);
    for (const auto& recorder : recorders) {
      for (const Heard& event : recorder->heard) {
        EXPECT_TRUE(event.onMainThread) << event.kind;
        EXPECT_FALSE(event.ownerGone) << event.kind << " arrived after its facade was gone";
        EXPECT_NE(event.kind, "error") << event.msg;
        EXPECT_TRUE(racing || event.afterRelease == (event.kind == "poi")) << event.kind;
      }
    }
  }
}

}  // namespace
}  // namespace tovik::test
