#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "provider_support.h"
#include "support/child_process.h"
#include "support/data_table.h"
#include "support/geoclue_world.h"
#include "tovik/providers/automatic_location_provider.h"
#include "tovik/providers/geoclue_location_provider.h"
#include "tovik/providers/gpsd_location_provider.h"
#include "tovik/providers/location_services.h"

// The location sources against real daemons: a private gpsd fed by gpsfake, and GeoClue2 on a
// private bus.
namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::GeoclueWorld;
using test::Gpsd;
using test::queue;

class GpsdLocationProviderTest : public testing::Test {
 protected:
  void SetUp() override {
    use(test::freePort());
    manager.setDelegate(trace);
  }
  void TearDown() override {
    LocationServices::setProvider(nullptr);
    queue().poll();
  }
  void use(std::uint16_t port) {
    provider = std::make_shared<GpsdLocationProvider>("127.0.0.1", port);
    LocationServices::setProvider(provider);
  }

  std::shared_ptr<GpsdLocationProvider> provider;
  std::shared_ptr<test::Trace> trace = std::make_shared<test::Trace>();
  LocationManager manager;
};

// The whole log as gpsd reports it, then the lost daemon once (gpsfake exits at the end of the
// log and the reconnection fails).
TEST_F(GpsdLocationProviderTest, ContinuousSessionReceivesTheLogInOrderThenReportsTheLostDaemonOnce) {
  Gpsd gpsd(Gpsd::Feed::once);
  ASSERT_TRUE(gpsd.ready());
  use(gpsd.port());
  manager.startUpdatingLocation();
  ASSERT_TRUE(queue().runUntil([&] { return !trace->errors.empty(); }, 60s));
  queue().runFor(100ms);
  EXPECT_TRUE(gpsd.exited());
  auto lines = trace->lines;
  lines.back() = test::replaced(lines.back(), "127.0.0.1:" + std::to_string(gpsd.port()), "127.0.0.1:PORT");
  // The first epochs may go by before the watch is open on a slow machine.
  test::expectSameAsFile(lines, "beijing_walk.gpsd", test::Match::tail);
  manager.stopUpdatingLocation();
  EXPECT_FALSE(provider->hasListeners());
}

TEST_F(GpsdLocationProviderTest, SingleRequestGetsOneFix) {
  Gpsd gpsd(Gpsd::Feed::once);
  ASSERT_TRUE(gpsd.ready());
  use(gpsd.port());
  manager.requestLocation();
  ASSERT_TRUE(queue().runUntil([&] { return !trace->lines.empty(); }, 30s));
  // The request is over: the provider has closed its watch, and nothing more arrives while
  // the rest of the log is fed.
  EXPECT_FALSE(provider->hasListeners() || provider->isConnected());
  for (int i = 0; i < 1200 && !gpsd.exited(); ++i) queue().runFor(50ms);
  ASSERT_TRUE(gpsd.exited());
  queue().poll();
  ASSERT_EQ(trace->lines.size(), 1u);
  const auto early = test::expectedLines("beijing_walk.gpsd");
  EXPECT_NE(std::find(early.begin(), early.begin() + 11, trace->lines[0]), early.begin() + 11);
}

// gpsd reports a failure once per spell, yet every session that starts during the spell
// hears it: a retry of the same manager, and a second manager.
TEST_F(GpsdLocationProviderTest, EverySessionStartedWhileGpsdIsDownHearsTheError) {
  manager.startUpdatingLocation();  // nothing listens on the port
  ASSERT_TRUE(queue().runUntil([&] { return trace->errors.size() == 1; }, 30s));
  manager.startUpdatingLocation();  // the application retries
  ASSERT_TRUE(queue().runUntil([&] { return trace->errors.size() == 2; }, 30s));
  const auto second = std::make_shared<test::Trace>();
  LocationManager other;
  other.setDelegate(second);
  other.requestLocation();
  ASSERT_TRUE(queue().runUntil([&] { return !second->errors.empty(); }, 30s));
  queue().runFor(100ms);
  EXPECT_EQ(trace->lines, std::vector<std::string>(2, second->lines.at(0)));
  EXPECT_EQ(second->lines.size(), 1u);
}

// Stopping never waits for the reader, also while it is stuck connecting to a gpsd that does
// not answer (a loopback listener whose accept queue is full drops the handshake, and the
// connect lasts for minutes).
TEST_F(GpsdLocationProviderTest, StoppingNeverWaitsForTheReader) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  ASSERT_TRUE(::bind(listener, any, size) == 0 && ::listen(listener, 0) == 0 &&
              ::getsockname(listener, any, &size) == 0);
  const int fillers[] = {::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0),
                         ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)};
  for (const int fd : fillers) ::connect(fd, any, size);
  std::this_thread::sleep_for(50ms);  // the first filler is established, the queue full

  use(ntohs(address.sin_port));
  manager.startUpdatingLocation();
  std::this_thread::sleep_for(300ms);  // the reader is inside its connect
  const auto start = std::chrono::steady_clock::now();
  manager.stopUpdatingLocation();
  LocationServices::setProvider(nullptr);
  provider.reset();
  // A bound far above a prompt return and far below the connect's own time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "a stop waited for the reader's connect";
  queue().poll();
  EXPECT_TRUE(trace->lines.empty());
  for (const int fd : fillers) ::close(fd);
  ::close(listener);
}

AutomaticLocationProvider::Options optionsFor(std::uint16_t gpsdPort, std::string busAddress) {
  return {.gpsdHost = "127.0.0.1",
          .gpsdPort = gpsdPort,
          .geoclue = {.busAddress = std::move(busAddress), .desktopId = GeoclueWorld::kAllowedApp}};
}

class GeoclueProviderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(world.problem(), "") << "GeoClue test world"; }

  std::shared_ptr<GeoclueLocationProvider> provider(const char* desktopId = GeoclueWorld::kAllowedApp,
                                                    double distanceFilter = -1.0, std::string busAddress = {}) {
    return std::make_shared<GeoclueLocationProvider>(
        GeoclueLocationProvider::Options{.busAddress = busAddress.empty() ? world.busAddress() : busAddress,
                                         .desktopId = desktopId,
                                         .distanceFilter = distanceFilter});
  }

  GeoclueWorld world{test::kBeijingWalk};
  std::shared_ptr<test::Trace> trace = std::make_shared<test::Trace>();
};

// GeoClue's own reading of the log (its times are its own, so they are left out), thinned by
// the distance filter; after a restart of GeoClue the session goes on. On the bus, as
// dbus-monitor sees it, the client is configured, started, stopped and deleted.
TEST_F(GeoclueProviderTest, ContinuousSessionFollowsTheLogAcrossARestartAndEndsItsClient) {
  test::ChildProcess monitor({"/usr/bin/dbus-monitor", "--address", world.busAddress(),
                              "type='method_call',destination='org.freedesktop.GeoClue2'"});
  ASSERT_TRUE(monitor.waitForLines(1, 5s));
  // The whole log unthinned, to write the expected file.
  const auto source = provider(GeoclueWorld::kAllowedApp, test::regenerating() ? -1.0 : 2.5);
  EXPECT_EQ(source->authorizationStatus(), AuthorizationStatus::notDetermined);
  trace->withTime = false;
  source->addListener(trace);
  const std::size_t wanted = test::regenerating() ? 60 : 6;
  ASSERT_TRUE(queue().runUntil([&] { return trace->fixes.size() >= wanted || !trace->errors.empty(); }, 30s))
      << world.geoclueLog();
  test::expectSameAsFile(trace->lines, "beijing_walk.geoclue", test::Match::subsequence);
  EXPECT_EQ(source->authorizationStatus(), AuthorizationStatus::authorizedAlways);
  EXPECT_TRUE(source->isConnected());
  EXPECT_LT(std::chrono::abs(trace->fixes.back().timestamp - std::chrono::system_clock::now()), 24h);

  world.killGeoclue();
  ASSERT_TRUE(queue().runUntil([&] { return !source->isConnected(); }, 5s));
  ASSERT_TRUE(world.startGeoclue()) << world.geoclueLog();
  const std::size_t before = trace->fixes.size();
  EXPECT_TRUE(queue().runUntil([&] { return trace->fixes.size() >= before + 2; }, 20s));
  EXPECT_TRUE(source->isConnected());
  EXPECT_TRUE(trace->errors.empty());
  source->removeListener(trace.get());
  EXPECT_FALSE(source->isConnected());
  queue().runFor(1s);
  monitor.signal(SIGTERM);
  const std::string bus = monitor.finish(5s).out;
  std::size_t at = 0;
  for (const std::string step : {"member=CreateClient", "string \"DesktopId\"", "string \"tovik-geoclue-test\"",
                                 "string \"RequestedAccuracyLevel\"", "uint32 8", "string \"DistanceThreshold\"",
                                 "uint32 2", "member=Start", "member=Stop", "member=DeleteClient"}) {
    const auto found = bus.find(step, at);
    ASSERT_NE(found, std::string::npos) << step << " after offset " << at << " in\n" << bus;
    at = found + step.size();
  }
}

// The ways a session cannot get GeoClue's fixes, and the automatic choice finding neither gpsd
// nor GeoClue: each reported once with its own error, after the source's unavailability (the
// reader, or the probe, keeps trying without saying it again), and the authorisation after it.
TEST_F(GeoclueProviderTest, RefusalAndAbsenceAreReportedOnce) {
  const std::uint16_t noGpsd = test::freePort();
  const std::vector<std::pair<const char*, std::function<std::shared_ptr<LocationProvider>()>>> cases = {
      {"refused by GeoClue's configuration", [&] { return provider(GeoclueWorld::kRefusedApp); }},
      {"no bus at the address", [&] { return provider("", -1.0, "unix:path=/nonexistent/bus"); }},
      {"automatic choice, neither source",
       [&] { return std::make_shared<AutomaticLocationProvider>(optionsFor(noGpsd, "unix:path=/nonexistent/bus")); }},
      // GeoClue holds the client; the provider gives up after 5 s.
      {"no agent", [&] { return world.killAgent(), provider(); }},
      {"GeoClue not on the bus", [&] { return world.killGeoclue(), provider(); }},
  };
  std::vector<std::string> transcript;
  for (const auto& [name, make] : cases) {
    const auto source = make();
    const auto listener = std::make_shared<test::Trace>();
    listener->withAvailability = true;
    source->addListener(listener);
    EXPECT_TRUE(queue().runUntil([&] { return !listener->errors.empty(); }, 10s)) << name;
    queue().runFor(1800ms);
    transcript.push_back(std::string("# ") + name + ": authorization " +
                         std::to_string(static_cast<int>(source->authorizationStatus())) +
                         (source->currentFailure() ? ", failing" : ""));
    // The world's bus and the free port have new names each time.
    for (const auto& line : listener->lines) {
      transcript.push_back(test::replaced(test::replaced(line, world.busAddress(), "WORLD_BUS"),
                                          "127.0.0.1:" + std::to_string(noGpsd), "127.0.0.1:PORT"));
    }
    source->removeListener(listener.get());
  }
  test::expectSameAsFile(transcript, "location_source_failures");
}

// The accuracy level and distance threshold given to the client started last, as dbus-monitor
// saw the calls: {"RequestedAccuracyLevel 8", "DistanceThreshold 3"}.
std::vector<std::string> lastStartedClientSettings(const std::string& bus) {
  static const std::regex call(R"(path=([^;]+);[^\n]*member=(\w+))");
  static const std::regex set(R"re(string "(RequestedAccuracyLevel|DistanceThreshold)"\s*variant\s+uint32 (\d+))re");
  std::map<std::string, std::vector<std::string>> settings;
  std::string started;
  for (std::size_t at = bus.find("method call"); at != std::string::npos;) {
    const std::size_t next = bus.find("method call", at + 1);
    const std::string message = bus.substr(at, next == std::string::npos ? next : next - at);
    std::smatch found;
    if (std::regex_search(message, found, call)) {
      const std::string path = found[1];
      if (found[2] == "Start") started = path;
      if (found[2] == "Set" && std::regex_search(message, found, set)) {
        settings[path].push_back(found[1].str() + " " + found[2].str());
      }
    }
    at = next;
  }
  return settings[started];
}

// The managers' desired accuracy and distance filter become the client's accuracy level and
// distance threshold (data/geoclue_settings.txt): the client started last has them (managers
// that join one after another may each begin one). A change while the
// updates run gives a new client with the new value. (GeoClue starts only the sources a level
// calls for: below exact it leaves the world's NMEA source alone, so those clients get no fix.)
TEST_F(GeoclueProviderTest, TheManagersSettingsBecomeTheClientsLevelAndThreshold) {
  for (const auto& [name, fields] : test::tableRows("providers", "geoclue_settings.txt")) {
    SCOPED_TRACE(name);
    ASSERT_EQ(fields.size(), 4u);
    test::ChildProcess monitor({"/usr/bin/dbus-monitor", "--address", world.busAddress(),
                                "type='method_call',destination='org.freedesktop.GeoClue2'"});
    ASSERT_TRUE(monitor.waitForLines(1, 5s));
    GeoclueLocationProvider::Options options{.busAddress = world.busAddress(), .desktopId = GeoclueWorld::kAllowedApp};
    if (!fields[1].empty()) std::istringstream(fields[1]) >> options.desiredAccuracy >> options.distanceFilter;
    const auto source = std::make_shared<GeoclueLocationProvider>(options);
    LocationServices::setProvider(source);
    std::vector<std::unique_ptr<LocationManager>> managers;
    std::istringstream wishes(fields[2]);
    for (std::string wish; wishes >> wish;) {
      managers.push_back(std::make_unique<LocationManager>());
      managers.back()->setDesiredAccuracy(std::stod(wish.substr(0, wish.find('/'))));
      managers.back()->setDistanceFilter(std::stod(wish.substr(wish.find('/') + 1)));
      managers.back()->setDelegate(trace);
      managers.back()->startUpdatingLocation();
    }
    const auto started = [&] { return source->isConnected() || !trace->errors.empty(); };
    ASSERT_TRUE(queue().runUntil(started, 20s)) << world.geoclueLog();
    ASSERT_TRUE(trace->errors.empty()) << trace->lines.back();
    std::istringstream expected(fields[3]);
    std::string level, threshold;
    expected >> level >> threshold;
    const auto lastClientHas = [&](const std::string& distance) {
      const std::vector<std::string> wanted = {"RequestedAccuracyLevel " + level, "DistanceThreshold " + distance};
      return monitor.waitForOutput([&](const std::string& bus) { return lastStartedClientSettings(bus) == wanted; },
                                   5s);
    };
    EXPECT_TRUE(lastClientHas(threshold)) << monitor.finish(5s).out;
    if (managers.size() == 1 && fields[1].empty()) {
      managers.front()->setDistanceFilter(7);
      EXPECT_FALSE(source->isConnected()) << "the old client is let go at once";
      ASSERT_TRUE(queue().runUntil(started, 20s)) << world.geoclueLog();
      EXPECT_TRUE(lastClientHas("7")) << monitor.finish(5s).out;
    }
    managers.clear();
    LocationServices::setProvider(nullptr);
    queue().runFor(300ms);
    trace = std::make_shared<test::Trace>();
  }
}

// The automatic choice: gpsd when it has a receiver, else GeoClue.
TEST_F(GeoclueProviderTest, AutomaticChoiceTakesGpsdWithADeviceThenGeoclue) {
  const struct {
    const char* name;
    std::optional<Gpsd::Feed> gpsd;
    AutomaticLocationProvider::Source expected;
  } cases[] = {
      {"gpsd with a receiver wins over GeoClue", Gpsd::Feed::looping, AutomaticLocationProvider::Source::gpsd},
      {"gpsd without a receiver gives GeoClue", Gpsd::Feed::bare, AutomaticLocationProvider::Source::geoclue},
      {"no gpsd gives GeoClue", std::nullopt, AutomaticLocationProvider::Source::geoclue},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto gpsd = c.gpsd ? std::make_unique<Gpsd>(*c.gpsd) : nullptr;
    ASSERT_TRUE(!gpsd || gpsd->ready());
    const auto automatic = std::make_shared<AutomaticLocationProvider>(
        optionsFor(gpsd ? gpsd->port() : test::freePort(), world.busAddress()));
    trace = std::make_shared<test::Trace>();
    automatic->addListener(trace);
    ASSERT_TRUE(queue().runUntil([&] { return !trace->lines.empty(); }, 20s));
    ASSERT_TRUE(trace->errors.empty()) << trace->lines[0];
    EXPECT_EQ(automatic->source(), c.expected);
    EXPECT_NEAR(trace->fixes.front().coordinate.latitude, 39.0 + 54.522 / 60.0, 1e-3);
    EXPECT_EQ(automatic->authorizationStatus(), AuthorizationStatus::authorizedAlways);
    automatic->removeListener(trace.get());
    EXPECT_EQ(automatic->source(), c.expected);
  }
}

}  // namespace
}  // namespace tovik
