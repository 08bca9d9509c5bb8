#include "tovik/providers/gpsd_location_provider.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tovik/providers/location_manager.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/providers/nmea_epoch_assembler.h"
#include "tovik/providers/nmea_parser.h"

extern char** environ;

namespace tovik {
namespace {

using namespace std::chrono_literals;

MainQueue& queue() { return MainQueue::shared(); }

const std::string kLog = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";

// Why the gpsd tests cannot run here, if they cannot (gpsfake looks for gpsd in /usr/sbin too).
std::optional<std::string> missingGpsd() {
  for (const std::string program : {"gpsfake", "gpsd"}) {
    std::stringstream dirs(std::string(std::getenv("PATH") ? std::getenv("PATH") : "") + ":/usr/sbin:/sbin");
    bool found = false;
    for (std::string dir; !found && std::getline(dirs, dir, ':');) found = ::access((dir + "/" + program).c_str(), X_OK) == 0;
    if (!found) return program + " is not installed (packages gpsd and gpsd-clients)";
  }
  return std::nullopt;
}

// Binds (port 0: any free port) or connects a loopback socket; the port, or 0 on failure.
std::uint16_t loopback(std::uint16_t port, bool connect) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  const bool ok = connect ? ::connect(fd, any, size) == 0 : ::bind(fd, any, size) == 0 && ::getsockname(fd, any, &size) == 0;
  ::close(fd);
  return ok ? ntohs(address.sin_port) : 0;
}

// A private gpsd on a loopback port, fed once with an NMEA log by gpsfake, which exits at
// the end of the log. gpsfake waits about 1.4 s after its own client joins before it
// feeds, so a client that connects as soon as the port accepts sees the whole log.
class GpsFake {
 public:
  GpsFake(const std::string& log, std::uint16_t port)
      : port_(port), scratch_(std::filesystem::temp_directory_path() / ("tovik_gpsfake_" + std::to_string(port))) {
    // gpsd's control socket goes to TMPDIR and is left behind: keep it in a folder of our own.
    std::filesystem::create_directories(scratch_);
    std::vector<std::string> args = {"env", "TMPDIR=" + scratch_.string(), "gpsfake", "-1", "-p", "-q", "-c", "0.01",
                                     "-P", std::to_string(port), log};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so that its gpsd can be ended with it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    if (posix_spawnp(&pid_, "env", &actions, &attributes, argv.data(), environ) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }

  ~GpsFake() {
    // SIGINT lets gpsfake clean up and end its gpsd; SIGKILL if it does not.
    if (pid_ > 0 && !exited()) ::kill(-pid_, SIGINT);
    for (int i = 0; pid_ > 0 && i < 100 && !exited(); ++i) std::this_thread::sleep_for(50ms);
    if (pid_ > 0 && !exited() && ::kill(-pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  /// Waits until gpsd accepts connections; false if it never does.
  bool waitUntilListening() {
    for (int i = 0; pid_ > 0 && i < 400 && !exited(); ++i) {
      if (loopback(port_, true) != 0) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  bool exited() {
    reaped_ = reaped_ || ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    return reaped_;
  }

 private:
  std::uint16_t port_;
  std::filesystem::path scratch_;
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// The fixes a log holds, by the kit's own NMEA reading.
std::vector<Location> fixesOfLog(const std::string& path) {
  std::ifstream in(path);
  NmeaEpochAssembler assembler;
  std::vector<Location> fixes;
  for (std::string line; std::getline(in, line);) {
    if (const auto sentence = NmeaParser::parse(line)) {
      if (const auto fix = assembler.add(*sentence)) fixes.push_back(*fix);
    }
  }
  if (const auto fix = assembler.finish()) fixes.push_back(*fix);
  return fixes;
}

class Recorder : public LocationManagerDelegate {
 public:
  void didUpdateLocations(LocationManager&, const std::vector<Location>& locations) override {
    fixes.insert(fixes.end(), locations.begin(), locations.end());
  }
  void didFailWithError(LocationManager&, const Error& error) override { errors.push_back(error.localizedDescription()); }
  std::vector<Location> fixes;
  std::vector<std::string> errors;
};

class GpsdLocationProviderTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const auto missing = missingGpsd()) FAIL() << "gpsd tests cannot run: " << *missing;
    port = loopback(0, false);
    provider = std::make_shared<GpsdLocationProvider>("127.0.0.1", port);
    LocationServices::setProvider(provider);
    manager.setDelegate(recorder);
  }

  void TearDown() override {
    LocationServices::setProvider(nullptr);
    queue().poll();
  }

  std::uint16_t port = 0;
  std::shared_ptr<GpsdLocationProvider> provider;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  LocationManager manager;
};

TEST_F(GpsdLocationProviderTest, ContinuousSessionReceivesTheLogInOrderThenReportsTheLostDaemonOnce) {
  const auto expected = fixesOfLog(kLog);
  ASSERT_EQ(expected.size(), 60u);
  GpsFake fake(kLog, port);
  ASSERT_TRUE(fake.waitUntilListening());

  manager.startUpdatingLocation();
  // gpsfake exits at the end of the log; the reconnection that follows fails.
  ASSERT_TRUE(queue().runUntil([&] { return !recorder->errors.empty(); }, 60s));
  ASSERT_FALSE(recorder->fixes.empty());

  // Every fix is one of the log's epochs, each once, in order, with none left out after
  // the first (the first epochs may go by before the watch is open on a slow machine).
  std::size_t next = 0;
  while (next < expected.size() && expected[next].timestamp != recorder->fixes.front().timestamp) ++next;
  ASSERT_LT(next, expected.size()) << "the first fix is not an epoch of the log";
  EXPECT_LE(next, 10u) << "the watch opened late";
  ASSERT_EQ(recorder->fixes.size(), expected.size() - next);
  for (std::size_t i = 0; i < recorder->fixes.size(); ++i, ++next) {
    const Location &got = recorder->fixes[i], &want = expected[next];
    SCOPED_TRACE(i);
    EXPECT_EQ(got.timestamp, want.timestamp);
    EXPECT_NEAR(got.coordinate.latitude, want.coordinate.latitude, 1e-8);
    EXPECT_NEAR(got.coordinate.longitude, want.coordinate.longitude, 1e-8);
    EXPECT_NEAR(got.altitude, want.altitude, 1e-3);  // above the ellipsoid
    EXPECT_NEAR(got.speed, want.speed, 0.01);
    EXPECT_NEAR(got.course, want.course, 1e-3);
    EXPECT_TRUE(got.horizontalAccuracy > 0.0 && got.verticalAccuracy > 0.0);
  }

  EXPECT_TRUE(fake.exited());
  ASSERT_EQ(recorder->errors.size(), 1u);
  EXPECT_EQ(recorder->errors[0].rfind("无法连接到 gpsd（127.0.0.1:" + std::to_string(port) + "）：", 0), 0u) << recorder->errors[0];
  manager.stopUpdatingLocation();
  EXPECT_FALSE(provider->hasListeners());
}

TEST_F(GpsdLocationProviderTest, SingleRequestGetsOneFix) {
  GpsFake fake(kLog, port);
  ASSERT_TRUE(fake.waitUntilListening());
  manager.requestLocation();
  ASSERT_TRUE(queue().runUntil([&] { return !recorder->fixes.empty() || !recorder->errors.empty(); }, 30s));
  ASSERT_EQ(recorder->fixes.size(), 1u) << (recorder->errors.empty() ? "" : recorder->errors[0]);
  EXPECT_NEAR(recorder->fixes[0].coordinate.latitude, 39.9087, 0.01);  // early in the log
  // The request is over: the provider has closed its watch.
  EXPECT_FALSE(provider->hasListeners());
  EXPECT_FALSE(provider->isConnected());
  // Nothing more arrives while the rest of the log is fed.
  for (int i = 0; i < 1200 && !fake.exited(); ++i) queue().runFor(50ms);
  ASSERT_TRUE(fake.exited());
  queue().poll();
  EXPECT_EQ(recorder->fixes.size(), 1u);
  EXPECT_TRUE(recorder->errors.empty());
}

// gpsd reports a failure once per spell, yet every session that starts during the spell
// hears it: a retry of the same manager, and a second manager.
TEST_F(GpsdLocationProviderTest, EverySessionStartedWhileGpsdIsDownHearsTheError) {
  manager.startUpdatingLocation();  // nothing listens on the port
  ASSERT_TRUE(queue().runUntil([&] { return recorder->errors.size() == 1; }, 30s));
  manager.startUpdatingLocation();  // the application retries
  ASSERT_TRUE(queue().runUntil([&] { return recorder->errors.size() == 2; }, 30s));
  const auto second = std::make_shared<Recorder>();
  LocationManager other;
  other.setDelegate(second);
  other.requestLocation();
  ASSERT_TRUE(queue().runUntil([&] { return !second->errors.empty(); }, 30s));
  EXPECT_EQ(second->errors[0], recorder->errors[0]);
  queue().runFor(100ms);
  EXPECT_EQ(recorder->errors.size(), 2u);
  EXPECT_EQ(second->errors.size(), 1u);
}

// Stopping never waits for the reader, also while it is stuck connecting to a gpsd that does
// not answer (a loopback listener whose accept queue is full drops the handshake, and the
// connect lasts for minutes).
TEST_F(GpsdLocationProviderTest, StoppingNeverWaitsForTheReader) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  ASSERT_EQ(::bind(listener, any, size), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, any, &size), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 2; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    ::connect(fillers.back(), any, size);
  }
  std::this_thread::sleep_for(50ms);  // the first filler is established, the queue full

  auto stuck = std::make_shared<GpsdLocationProvider>("127.0.0.1", ntohs(address.sin_port));
  LocationServices::setProvider(stuck);
  manager.startUpdatingLocation();
  std::this_thread::sleep_for(300ms);  // the reader is inside its connect
  const auto start = std::chrono::steady_clock::now();
  manager.stopUpdatingLocation();
  LocationServices::setProvider(nullptr);
  stuck.reset();
  const auto took = std::chrono::steady_clock::now() - start;
  // A bound far above a prompt return and far below the connect's own time-out.
  EXPECT_LT(took, 2s) << "a stop waited for the reader's connect";
  queue().poll();
  EXPECT_TRUE(recorder->errors.empty() && recorder->fixes.empty());
  for (const int fd : fillers) ::close(fd);
  ::close(listener);
}

}  // namespace
}  // namespace tovik
