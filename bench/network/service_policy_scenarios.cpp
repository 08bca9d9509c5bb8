// The service policy against struggling loopback services, one scenario per figure: how many
// requests reach a service that asks for a pause, one that answers slowly, one that fails
// every call, and one asked the same reverse lookup once a second for an hour.
//
//   tovik_bench_service_policy [SECONDS_429 [SECONDS_SLOW [SECONDS_FAILING]]]
//
// Defaults: 120, 60 and 600 s of real time; the hour of lookups runs on a pinned clock.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/ready_facade.h"
#include "support/test_server.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/network/network_checker.h"
#include "tovik/providers/location_services.h"
#include "tovik/providers/scripted_location_provider.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/system/bundle.h"
#include "tovik/system/clock.h"

namespace {

using namespace std::chrono_literals;
using tovik::MainQueue;
using tovik::ServicePolicy;
using tovik::TkClientLocation;
using tovik::test::TestServer;

constexpr const char* kTrackPath = "/location/hub/v1/track_points";

struct Counting : tovik::LocationDelegate {
  int results = 0;
  int errors = 0;
  void onReceivedLocationWithTkLocation(const std::shared_ptr<tovik::LocationRes>&) override { ++results; }
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<tovik::LocationRes>&) override { ++results; }
  void onLocationErrorWithMsg(const std::string&) override { ++errors; }
};

// A loopback service answering every track-point request with `status` after `delay`,
// counting the requests and the most it held at once.
struct Service {
  Service(int status, std::string retryAfter, std::chrono::milliseconds delay) {
    server.on("POST", kTrackPath, [=, this](const httplib::Request&, httplib::Response& response) {
      const int now = ++inside;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(delay);
      --inside;
      response.status = status;
      if (!retryAfter.empty()) response.set_header("Retry-After", retryAfter);
      response.set_content(status == 200 ? tovik::test::kLocationJson : "{}", "application/json");
    });
  }
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  TestServer server;
};

// Continuous sessions every 0.1 s from a device standing still, one per service with its
// policy, side by side for `seconds`; the requests each service got.
std::vector<std::size_t> sessions(const std::vector<std::pair<Service*, ServicePolicy>>& runs, double seconds) {
  auto provider = std::make_shared<tovik::ScriptedLocationProvider>();
  tovik::LocationServices::setProvider(provider);
  std::vector<std::shared_ptr<TkClientLocation>> facades;
  for (const auto& [service, policy] : runs) {
    auto facade = tovik::test::readyFacade(std::make_shared<Counting>(), service->server.baseURL(), "bench");
    facade->servicePolicy = policy;
    facade->isLocateOnce = false;
    facade->interval = 0.1;
    facade->startLocation();
    facades.push_back(std::move(facade));
  }
  tovik::Location fix;
  fix.coordinate = {39.9042, 116.4074};
  fix.horizontalAccuracy = 5;
  provider->pushLocation(fix);
  MainQueue::shared().runFor(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds)));
  std::vector<std::size_t> sent;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    facades[i]->stopLocation();
    sent.push_back(runs[i].first->server.requestCount());
  }
  return sent;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds429 = argc > 1 ? std::atof(argv[1]) : 120;
  const double secondsSlow = argc > 2 ? std::atof(argv[2]) : 60;
  const double secondsFailing = argc > 3 ? std::atof(argv[3]) : 600;
  tovik::Bundle::main().setObject("NSLocationWhenInUseUsageDescription", std::string("bench"));
  tovik::NetworkChecker::setFlagsSource([] { return tovik::NetworkChecker::kReachable; });

  {
    Service paused(429, "120", 0ms);
    const auto sent = sessions({{&paused, {.backoff = true}}}, seconds429)[0];
    std::printf("429 Retry-After 120, 0.1 s session, --backoff: %zu request(s) in %.0f s\n", sent, seconds429);
  }
  {
    Service slow(200, "", 3000ms);
    const auto sent = sessions({{&slow, {.backoff = true}}}, secondsSlow)[0];
    std::printf("answers after 3 s, 0.1 s session, --backoff: %zu requests in %.0f s, at most %d in flight\n", sent,
                secondsSlow, slow.most.load());
  }
  {
    Service plain(503, "", 0ms);
    Service retried(503, "", 0ms);
    const auto sent = sessions({{&plain, {}}, {&retried, {.retries = 3}}}, secondsFailing);
    const auto without = sent[0];
    const auto with = sent[1];
    std::printf("503 on every call, 0.1 s session for %.0f s: %zu requests without retries, %zu with --retries 3 (+%.2f %%)\n",
                secondsFailing, without, with, 100.0 * (double(with) - double(without)) / double(without));
  }
  {
    // An hour of lookups, one a second, on a clock the bench moves on.
    Service places(200, "", 0ms);
    auto counting = std::make_shared<Counting>();
    auto facade = tovik::test::readyFacade(counting, places.server.baseURL(), "bench");
    facade->servicePolicy = {.cacheMetres = 50, .cacheSeconds = 300};
    const double start = 1'800'000'000.0;
    for (int second = 0; second < 3600; ++second) {
      tovik::Clock::pin(start + second);
      facade->getReverseCode(39.9087 + 0.00001 * (second % 7), 116.3975);  // a few metres of jitter
      MainQueue::shared().runUntil([&] { return counting->results + counting->errors > second; }, 20s);
    }
    tovik::Clock::pin(std::nullopt);
    std::printf("reverse lookup once a second for an hour, --cache 50: %zu requests (%d answers)\n",
                places.server.requestCount(), counting->results);
  }
  return 0;
}
