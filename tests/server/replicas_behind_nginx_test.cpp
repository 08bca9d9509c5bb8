// Two replicas of the real tovik-service behind Debian's nginx, driven by the kit's own
// facade through nginx while one replica dies with calls inside it: every GET is retried
// on the survivor, and the only answers lost are the POSTs that the dead replica had
// received (nginx never sends a POST twice), each as one error callback.

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "server_test_env.h"
#include "support/child_process.h"
#include "tovik/client/location_delegate.h"
#include "tovik/services/module_keys.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/providers/scripted_location_provider.h"

namespace tovik::server {
namespace {

using test::ChildProcess;
using std::chrono::milliseconds;
using std::chrono::seconds;

/// A port nobody listens on right now (the kernel's choice, released at once).
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  return bound ? ntohs(address.sin_port) : 0;
}

std::string findNginx() {
  std::istringstream path(std::string(std::getenv("PATH") ? std::getenv("PATH") : "") + ":/usr/sbin:/sbin");
  for (std::string dir; std::getline(path, dir, ':');) {
    const auto candidate = std::filesystem::path(dir) / "nginx";
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

/// Polls GET /healthz until it answers 200.
bool healthy(int port, milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  httplib::Client probe("127.0.0.1", port);
  probe.set_connection_timeout(seconds(1));
  while (std::chrono::steady_clock::now() < deadline) {
    const auto answer = probe.Get("/healthz");
    if (answer && answer->status == 200) return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

std::size_t lineCount(const std::filesystem::path& file) {
  std::ifstream in(file);
  return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
}

// The calls, one facade each, so that every outcome belongs to one call in flight.
enum Call { kFused, kReverse, kGeocode, kPlaceSearch, kNearby, kCallCount };
constexpr std::array<const char*, kCallCount> kCallNames = {"fused location", "reverse geocoding", "forward geocoding",
                                                            "place search", "nearby search"};
constexpr bool isPost(Call call) { return call == kFused || call == kReverse; }

struct Tally {
  int issued = 0;
  int succeeded = 0;
  std::vector<std::string> errors;
  int outcomes() const { return succeeded + static_cast<int>(errors.size()); }
  int inFlight() const { return issued - outcomes(); }
};

/// Keeps exactly one call of every kind in flight: each outcome starts the next call.
class Driver {
 public:
  explicit Driver(const std::string& serviceURL) {
    for (int call = 0; call < kCallCount; ++call) {
      delegates_[call] = std::make_shared<Delegate>(this, static_cast<Call>(call));
      auto& client = clients_[call];
      client = TkClientLocation::create(delegates_[call]);
      client->setAgreePrivacy(true);
      client->initKey("demo");
      client->serviceURL = serviceURL;
    }
  }

  // A place search holds its facade until its outcome is delivered, even after a failed test.
  ~Driver() {
    for (const auto& delegate : delegates_) delegate->driver = nullptr;
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  void start() {
    running_ = true;
    for (int call = 0; call < kCallCount; ++call) issue(static_cast<Call>(call));
  }
  void stop() { running_ = false; }

  const Tally& tally(Call call) const { return tallies_[call]; }
  int outcomes() const {
    int sum = 0;
    for (const auto& tally : tallies_) sum += tally.outcomes();
    return sum;
  }
  int inFlight() const {
    int sum = 0;
    for (const auto& tally : tallies_) sum += tally.inFlight();
    return sum;
  }

 private:
  struct Delegate : LocationDelegate {
    Delegate(Driver* driver, Call call) : driver(driver), call(call) {}
    void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& result) override {
      answered(result->location && result->location->place);
    }
    void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& result) override {
      answered(result->location && result->location->place && result->location->place->name == "Beijing");
    }
    void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& list) override {
      answered(!list.empty() && list[0]->name == "Haidian");
    }
    void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& list) override {
      answered(!list.empty());
    }
    void onLocationErrorWithMsg(const std::string& msg) override {
      if (driver) driver->failed(call, msg);
    }
    void answered(bool right) {
      if (driver) driver->answered(call, right);
    }
    Driver* driver;
    const Call call;
  };

  void answered(Call call, bool right) {
    if (right) {
      ++tallies_[call].succeeded;
    } else {
      tallies_[call].errors.push_back("an answer with the wrong content");
    }
    issue(call);
  }
  void failed(Call call, const std::string& msg) {
    tallies_[call].errors.push_back(msg);
    issue(call);
  }

  void issue(Call call) {
    if (!running_) return;
    ++tallies_[call].issued;
    auto& client = *clients_[call];
    switch (call) {
      case kFused: {
        Location fix;
        fix.coordinate = {31.2304, 121.4737};
        fix.horizontalAccuracy = 8;
        fix.timestamp = std::chrono::system_clock::now();
        client.getTrackLocation(fix);
        break;
      }
      case kReverse: client.getReverseCode(39.9087, 116.3975); break;
      case kGeocode: client.getGeocCode("Haidian", "Beijing"); break;
      case kPlaceSearch: client.poiKeySearch("Paris", "", "", 1, 5); break;
      case kNearby: client.poiNearbySearch("", "2.3522,48.8566", 20000, "", "distance", 1, 10); break;
      case kCallCount: break;
    }
  }

  bool running_ = false;
  std::array<Tally, kCallCount> tallies_{};
  std::array<std::shared_ptr<Delegate>, kCallCount> delegates_{};
  std::array<std::shared_ptr<TkClientLocation>, kCallCount> clients_{};
};

struct Replica {
  explicit Replica(const std::string& name)
      : port(freePort()),
        log(testing::scratchDir() / (name + "-access.log")),
        process({std::string(TOVIK_BINARY_DIR) + "/server/tovik-service", "serve", "--db",
                 testing::fixtureDatabase().string(), "--port", std::to_string(port), "--threads", "16",
                 "--access-log", log.string()}) {}
  int port;
  std::filesystem::path log;
  ChildProcess process;
};

std::string nginxConfig(const std::filesystem::path& prefix, int listen, const Replica& a, const Replica& b) {
  std::ostringstream conf;
  // One process: the test can stop it with one signal and nothing outlives it.
  conf << "master_process off;\n"
       << "pid " << (prefix / "nginx.pid").string() << ";\n"
       << "error_log " << (prefix / "error.log").string() << " warn;\n"
       << "events { worker_connections 256; }\n"
       << "http {\n"
       << "  access_log " << (prefix / "access.log").string() << ";\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    conf << "  " << temp << "_temp_path " << (prefix / temp).string() << ";\n";
  }
  conf << "  upstream tovik {\n";
  for (const Replica* replica : {&a, &b}) {
    conf << "    server 127.0.0.1:" << replica->port << " max_fails=1 fail_timeout=30s;\n";
  }
  // Idle upstream connections close before the service's own 5 s, so nginx never sends a
  // request on a connection that the replica is closing.
  conf << "    keepalive 16;\n"
       << "    keepalive_timeout 4s;\n"
       << "  }\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << listen << ";\n"
       << "    location / {\n"
       << "      proxy_pass http://tovik;\n"
       << "      proxy_http_version 1.1;\n"
       << "      proxy_set_header Connection \"\";\n"
       << "      proxy_next_upstream error timeout http_502 http_504;\n"
       << "      proxy_next_upstream_tries 2;\n"
       << "      proxy_connect_timeout 1s;\n"
       << "      proxy_read_timeout 5s;\n"
       << "    }\n"
       << "  }\n"
       << "}\n";
  return conf.str();
}

TEST(ReplicasBehindNginxTest, KillingAReplicaLosesOnlyThePostsItHadReceived) {
  const std::string nginx = findNginx();
  ASSERT_FALSE(nginx.empty()) << "nginx is not installed: scripts/bootstrap installs Debian's nginx";
  testing::fixtureDatabase();  // imported before the replicas open it

  Replica a("replica-a");
  Replica b("replica-b");
  ASSERT_TRUE(healthy(a.port, seconds(10)) && healthy(b.port, seconds(10))) << "the replicas did not start";

  const auto prefix = testing::scratchDir() / "nginx";
  std::filesystem::create_directories(prefix);
  const int front = freePort();
  std::ofstream(prefix / "nginx.conf") << nginxConfig(prefix, front, a, b);
  ChildProcess proxy({nginx, "-p", prefix.string(), "-e", (prefix / "error.log").string(), "-c",
                      (prefix / "nginx.conf").string(), "-g", "daemon off;"});
  ASSERT_TRUE(healthy(front, seconds(10))) << "nginx did not start; its error log:\n"
                                           << std::ifstream(prefix / "error.log").rdbuf();

  LocationServices::setProvider(std::make_shared<ScriptedLocationProvider>());
  auto& queue = MainQueue::shared();
  {
    Driver driver("http://127.0.0.1:" + std::to_string(front));
    driver.start();
    ASSERT_TRUE(queue.runUntil([&] { return driver.outcomes() >= 300; }, seconds(30)));

    // Freeze replica A: round robin soon hands every stream of calls to it, where each one
    // waits. A stream that is not waiting there makes progress within milliseconds, so
    // once no outcome arrives for half a second the kill meets one call of every kind
    // inside the replica.
    a.process.signal(SIGSTOP);
    for (int before = -1, rounds = 0; before != driver.outcomes() && rounds < 40; ++rounds) {
      before = driver.outcomes();
      queue.runFor(milliseconds(500));
    }
    std::array<int, kCallCount> inFlightAtKill{};
    for (int call = 0; call < kCallCount; ++call) inFlightAtKill[call] = driver.tally(static_cast<Call>(call)).inFlight();
    a.process.signal(SIGKILL);
    EXPECT_EQ(a.process.finish(seconds(5)).status, 128 + SIGKILL);
    const std::size_t servedByA = lineCount(a.log);

    ASSERT_TRUE(queue.runUntil([&] { return driver.outcomes() >= 900; }, seconds(30)));
    driver.stop();
    ASSERT_TRUE(queue.runUntil([&] { return driver.inFlight() == 0; }, seconds(30)));
    queue.runFor(milliseconds(200));  // an outcome delivered twice would arrive now

    int postsLost = 0;
    for (int k = 0; k < kCallCount; ++k) {
      const auto call = static_cast<Call>(k);
      const Tally& tally = driver.tally(call);
      SCOPED_TRACE(kCallNames[k]);
      EXPECT_EQ(tally.outcomes(), tally.issued) << "every call ends in exactly one callback";
      if (isPost(call)) {
        // nginx has sent it to the replica and does not send a POST twice. It answers 502,
        // unless the replica had begun its answer when it died: nginx has passed that on and
        // can only break the connection.
        EXPECT_EQ(static_cast<int>(tally.errors.size()), inFlightAtKill[k]);
        for (const auto& error : tally.errors) {
          EXPECT_TRUE(error == "请求失败，状态码: 502" || error == "网络连接已中断") << error;
        }
        postsLost += static_cast<int>(tally.errors.size());
      } else {
        EXPECT_TRUE(tally.errors.empty()) << tally.errors.front() << " (nginx retries a GET on the other replica)";
      }
    }
    EXPECT_GT(servedByA, 50U) << "nginx shared the load before the kill";
    ::testing::Test::RecordProperty("calls", driver.outcomes());
    ::testing::Test::RecordProperty("served_by_killed_replica", static_cast<int>(servedByA));
    ::testing::Test::RecordProperty("posts_in_flight_at_kill", inFlightAtKill[kFused] + inFlightAtKill[kReverse]);
    ::testing::Test::RecordProperty("posts_lost", postsLost);
  }
  LocationServices::setProvider(nullptr);
  setModuleAccessKey("");
  setModulePoiKey("");

  proxy.signal(SIGQUIT);
  EXPECT_EQ(proxy.finish(seconds(10)).status, 0);
  b.process.signal(SIGTERM);
  EXPECT_EQ(b.process.finish(seconds(10)).status, 0);
}

}  // namespace
}  // namespace tovik::server
