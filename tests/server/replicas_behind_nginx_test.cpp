// The kit's own facade against the real service on loopback, with the calls of
// data/kit_calls.txt: first one by one, each outcome as that file says; then through
// Debian's nginx in front of two replicas of the real tovik-service, one of which dies with
// calls inside it: every GET is retried on the survivor, and the only answers lost are the
// POSTs that the dead replica had received (nginx never sends a POST twice), each as one
// error callback.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <numeric>
#include <iterator>

#include "server_test_env.h"
#include "support/child_process.h"
#include "support/kit_world.h"
#include "support/ready_facade.h"
#include "support/test_server.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/runloop/main_queue.h"

namespace tovik::server {
namespace {

using namespace testing;
using std::chrono::milliseconds;
using std::chrono::seconds;

using Places = std::vector<std::shared_ptr<GeocodeRes>>;

void issue(TkClientLocation& client, const test::OutcomeCase& call) {
  client.initKey(call["key"]);  // the key is the process's, not the facade's
  const auto f = call.all("arg");
  if (call.name == "fused") {
    client.getTrackLocation({.coordinate = {std::stod(f.at(0)), std::stod(f.at(1))},
                             .horizontalAccuracy = std::stod(f.at(2)),
                             .timestamp = std::chrono::system_clock::now()});
  } else if (call.name == "reverse") {
    client.getReverseCode(std::stod(f[0]), std::stod(f[1]));
  } else if (call.name == "geocode") {
    client.getGeocCode(f[0], f[1]);
  } else if (call.name == "poi") {
    client.poiKeySearch(f[0], f[1], f[2], std::stoi(f[3]), std::stoi(f[4]));
  } else if (call.name == "nearby") {
    client.poiNearbySearch(f[0], f[1], std::stoi(f[2]), f[3], f[4], std::stoi(f[5]), std::stoi(f[6]));
  } else {
    throw std::invalid_argument("no such call: " + call.name);
  }
}

std::string fixed(double value, int digits) {
  char text[64];
  return {text, std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, digits).ptr};
}

/// A call of data/kit_calls.txt through a facade of its own, noting each outcome as a line
/// in that file's terms; while `*again`, each outcome issues the call once more.
struct Stream : LocationDelegate {
  Stream(test::OutcomeCase row, const bool* again) : call(std::move(row)), again(again) {}

  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& result) override { located(*result); }
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& result) override { located(*result); }
  void onReceivedGeocodeWithResult(const Places& places) override { listed(places); }
  void onReceivedPoiSearchWithResult(const Places& places) override { listed(places); }
  void onLocationErrorWithMsg(const std::string& msg) override { note("error: " + msg); }

  void located(const LocationRes& result) {
    const auto& detail = *result.location;  // the decoder requires it and its position
    const auto& place = detail.place;
    std::string line = place ? place->name + " " + fixed(place->distance->line, 1) + " m; " : "-; ";
    line += fixed(detail.position->point->latitude, 10) + "," + fixed(detail.position->point->longitude, 10) + ";";
    for (const auto& level : detail.address ? detail.address->context : kNoLevels) {
      line += (line.back() == ';' ? " " : ", ") + level->code + " " + level->name;
    }
    note(line);
  }
  void listed(const Places& places) {
    std::string line = std::to_string(places.size()) + " places:";
    for (const auto& place : places) {
      line += (line.back() == ':' ? " " : "; ") + place->name + " " + place->code + " " + place->geoPoint + " " +
              fixed(place->distance, 1) + " " + fixed(place->relevance, 3);
    }
    note(line);
  }
  void note(std::string line) {
    lines.push_back(std::move(line));
    if (again && *again) next();
  }
  void next() {
    ++issued;
    issue(*facade.lock(), call);
  }
  int outcomes() const { return static_cast<int>(lines.size()); }
  int inFlight() const { return issued - outcomes(); }

  static inline const std::vector<std::shared_ptr<Address>> kNoLevels;
  const test::OutcomeCase call;
  const bool* again;
  std::weak_ptr<TkClientLocation> facade;
  std::vector<std::string> lines;
  int issued = 0;
  int inFlightAtKill = 0;
};

/// Streams and their facades. A place search holds its facade until its outcome is
/// delivered, even after a failed test: by then no stream issues again.
struct Streams {
  ~Streams() {
    for (const auto& stream : all) stream->again = nullptr;
  }
  Stream& add(test::OutcomeCase call, const std::string& serviceURL) {
    const auto& stream = all.emplace_back(std::make_shared<Stream>(std::move(call), &again));
    stream->facade = facades.emplace_back(test::readyFacade(stream, serviceURL, stream->call["key"]));
    stream->next();
    return *stream;
  }
  int outcomes() const {
    return std::accumulate(all.begin(), all.end(), 0, [](int n, const auto& s) { return n + s->outcomes(); });
  }

  bool again = true;  // each outcome issues its call once more
  std::vector<std::shared_ptr<Stream>> all;
  std::vector<std::shared_ptr<TkClientLocation>> facades;
};

TEST(KitAgainstServiceTest, EveryCallReachesTheDelegateAsTheServiceAnswered) {
  const test::KitWorld world;
  // Only the keys the calls use are accepted.
  RunningService service(AccessKeys::fromFile(writeFile("kit-keys.txt", "demo\ndemo-poi\n").string()));
  for (const auto& call : test::loadOutcomes("server/data/kit_calls.txt")) {
    SCOPED_TRACE(call.name + " " + call["arg"]);
    Streams one;
    one.again = false;
    auto& stream = one.add(call, service.baseURL());
    ASSERT_TRUE(MainQueue::shared().runUntil([&] { return stream.inFlight() == 0; }, seconds(20)));
    EXPECT_EQ(stream.lines, std::vector{call["heard"]});
  }
}

/// A port nobody listens on right now: a test server's, stopped at once.
int freePort() {
  test::TestServer server;
  server.stop();
  return server.port();
}

/// Polls GET /healthz for ten seconds until it answers 200.
bool healthy(int port) {
  httplib::Client probe("127.0.0.1", port);
  probe.set_connection_timeout(milliseconds(200));  // a listener that never accepts fails, not hangs
  probe.set_read_timeout(std::chrono::seconds(1));
  for (int k = 0; k < 500; ++k) {
    if (const auto answer = probe.Get("/healthz"); answer && answer->status == 200) return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

struct Replica {
  explicit Replica(const std::string& name)
      : port(freePort()),
        log(scratchDir() / (name + "-access.log")),
        process({std::string(TOVIK_BINARY_DIR) + "/server/tovik-service", "serve", "--db", fixtureDatabase().string(),
                 "--port", std::to_string(port), "--threads", "16", "--access-log", log.string()}) {}
  int port;
  std::filesystem::path log;
  test::ChildProcess process;
};

TEST(ReplicasBehindNginxTest, KillingAReplicaLosesOnlyThePostsItHadReceived) {
  ASSERT_EQ(::access("/usr/sbin/nginx", X_OK), 0)
      << "nginx is not installed: scripts/bootstrap installs Debian's nginx";
  Replica a("replica-a");
  Replica b("replica-b");
  ASSERT_TRUE(healthy(a.port) && healthy(b.port)) << "the replicas did not start";

  const auto prefix = scratchDir() / "nginx";
  const int front = freePort();
  std::string text = test::fileText(TOVIK_TESTS_DIR "/server/data/nginx.conf");  // with the ports filled in below
  for (const auto& [name, port] : {std::pair{"@FRONT@", front}, {"@REPLICA_A@", a.port}, {"@REPLICA_B@", b.port}}) {
    text.replace(text.find(name), std::string_view(name).size(), std::to_string(port));
  }
  const auto configFile = writeFile("nginx/nginx.conf", text);
  test::ChildProcess proxy({"/usr/sbin/nginx", "-p", prefix.string(), "-e", (prefix / "error.log").string(), "-c",
                            configFile.string(), "-g", "daemon off;"});
  ASSERT_TRUE(healthy(front)) << "nginx did not start; its error log:\n" << std::ifstream(prefix / "error.log").rdbuf();

  // The first five calls, one of each kind, each a stream of its own: exactly one call of
  // every kind is in flight.
  const test::KitWorld world;
  auto& queue = MainQueue::shared();
  Streams streams;
  const auto calls = test::loadOutcomes("server/data/kit_calls.txt");
  for (int k = 0; k < 5; ++k) streams.add(calls.at(k), "http://127.0.0.1:" + std::to_string(front));
  ASSERT_TRUE(queue.runUntil([&] { return streams.outcomes() >= 300; }, seconds(30)));

  // Freeze replica A: round robin soon hands every stream of calls to it, where each one
  // waits. A stream that is not waiting there makes progress within milliseconds, so once
  // no outcome arrives for half a second the kill meets one call of every kind inside the
  // replica.
  a.process.signal(SIGSTOP);
  for (int before = -1, rounds = 0; before != streams.outcomes() && rounds < 40; ++rounds) {
    before = streams.outcomes();
    queue.runFor(milliseconds(500));
  }
  for (const auto& stream : streams.all) stream->inFlightAtKill = stream->inFlight();
  a.process.signal(SIGKILL);
  EXPECT_EQ(a.process.finish(seconds(5)).status, 128 + SIGKILL);
  const auto servedByA = std::ranges::count(test::fileText(a.log), '\n');

  ASSERT_TRUE(queue.runUntil([&] { return streams.outcomes() >= 900; }, seconds(30)));
  streams.again = false;
  ASSERT_TRUE(queue.runUntil(
      [&] { return std::ranges::all_of(streams.all, [](const auto& s) { return s->inFlight() <= 0; }); }, seconds(30)));
  queue.runFor(milliseconds(200));  // an outcome delivered twice would arrive now

  for (const auto& stream : streams.all) {
    SCOPED_TRACE(stream->call.name);
    EXPECT_EQ(stream->inFlight(), 0) << "every call ends in exactly one callback";
    // nginx retries a GET on the other replica. It has sent a POST to the replica and does
    // not send it twice: it answers 502. Either call is lost when the replica had begun its
    // answer as it died: nginx can then only break the connection, and the kit never sends
    // a call twice, so it reports the broken connection.
    const bool post = stream->call.name == "fused" || stream->call.name == "reverse";
    int lost = 0;
    int broken = 0;
    for (const auto& line : stream->lines) {
      if (line != stream->call["heard"]) {
        ++lost;
        broken += line == "error: 网络连接已中断" ? 1 : 0;
        EXPECT_TRUE(line == "error: 网络连接已中断" || (post && line == "error: 请求失败，状态码: 502")) << line;
      }
    }
    EXPECT_LE(lost, stream->inFlightAtKill);
    EXPECT_EQ(lost, post ? stream->inFlightAtKill : broken);
  }
  EXPECT_GT(servedByA, 50) << "nginx shared the load before the kill";

  proxy.signal(SIGQUIT);
  EXPECT_EQ(proxy.finish(seconds(10)).status, 0);
  b.process.signal(SIGTERM);
  EXPECT_EQ(b.process.finish(seconds(10)).status, 0);
}

}  // namespace
}  // namespace tovik::server
