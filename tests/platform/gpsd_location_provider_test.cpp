#include "tovik/platform/gpsd_location_provider.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tovik/platform/location_manager.h"
#include "tovik/platform/location_services.h"
#include "tovik/platform/main_queue.h"
#include "tovik/platform/nmea_epoch_assembler.h"
#include "tovik/platform/nmea_parser.h"

extern char** environ;

namespace tovik {
namespace {

using namespace std::chrono_literals;

MainQueue& queue() { return MainQueue::shared(); }

std::string dataFile(const std::string& name) { return std::string(TOVIK_TEST_DATA_DIR) + "/" + name; }

bool isExecutable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// The program's path on PATH (and, for gpsd, in /usr/sbin, where gpsfake looks too).
std::optional<std::string> findProgram(const std::string& name) {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin";
  std::stringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && isExecutable(dir + "/" + name)) return dir + "/" + name;
  }
  return std::nullopt;
}

// Why the gpsd tests cannot run here, if they cannot.
std::optional<std::string> missingGpsd() {
  for (const char* program : {"gpsfake", "gpsd"}) {
    if (!findProgram(program)) {
      return std::string(program) + " is not installed (packages gpsd and gpsd-clients)";
    }
  }
  return std::nullopt;
}

// A loopback port nobody listens on right now.
std::uint16_t freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
  EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// A private gpsd on a loopback port, fed once with an NMEA log by gpsfake, which exits at
// the end of the log. gpsfake waits about 1.4 s after its own client joins before it
// feeds, so a client that connects as soon as the port accepts sees the whole log.
class GpsFake {
 public:
  GpsFake(const std::string& log, std::uint16_t port, const std::string& cycle)
      : port_(port), scratch_(std::filesystem::temp_directory_path() / ("tovik_gpsfake_" + std::to_string(port))) {
    const std::string portText = std::to_string(port);
    // gpsd's control socket goes to TMPDIR and is left behind: keep it in a folder of our own.
    std::filesystem::create_directories(scratch_);
    std::vector<std::string> environment = {"TMPDIR=" + scratch_.string()};
    for (char** variable = environ; *variable != nullptr; ++variable) {
      if (std::string_view(*variable).rfind("TMPDIR=", 0) != 0) environment.emplace_back(*variable);
    }
    std::vector<char*> envp;
    for (auto& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {"gpsfake", "-1", "-p", "-q", "-c", cycle, "-P", portText, log};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so that its gpsd can be ended with it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawnp(&pid_, "gpsfake", &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) pid_ = -1;
  }

  ~GpsFake() {
    if (pid_ > 0 && !exited()) {
      // SIGINT lets gpsfake clean up and end its gpsd; SIGKILL if it does not.
      ::kill(-pid_, SIGINT);
      for (int i = 0; i < 100 && !exited(); ++i) std::this_thread::sleep_for(50ms);
      if (!exited()) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
      }
    }
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  GpsFake(const GpsFake&) = delete;
  GpsFake& operator=(const GpsFake&) = delete;

  bool started() const { return pid_ > 0; }

  /// Waits until gpsd accepts connections; false if it never does.
  bool waitUntilListening() {
    for (int i = 0; i < 400; ++i) {
      if (accepts(port_)) return true;
      if (exited()) return false;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  bool exited() {
    if (reaped_) return true;
    reaped_ = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
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

std::string sentence(const std::string& body) {
  char checksum[3];
  std::snprintf(checksum, sizeof checksum, "%02X", NmeaParser::checksum(body));
  return "$" + body + "*" + checksum;
}

// Epochs with a horizontal position only: no altitude, no speed, no course.
std::string writeFlatLog() {
  const auto path = std::filesystem::temp_directory_path() / ("tovik_flat_" + std::to_string(::getpid()) + ".nmea");
  std::ofstream out(path);
  for (int second = 0; second < 40; ++second) {
    char time[16];
    std::snprintf(time, sizeof time, "0300%02d.00", second);
    out << sentence(std::string("GPGGA,") + time + ",3954.5220,N,11623.8500,E,1,05,1.5,,M,,M,,") << "\n"
        << sentence("GPGSA,A,2,01,03,08,11,14,,,,,,,,2.0,1.5,1.3") << "\n"
        << sentence(std::string("GPRMC,") + time + ",A,3954.5220,N,11623.8500,E,,,020524,,,A") << "\n";
  }
  return path.string();
}

class Recorder : public LocationProviderListener, public LocationManagerDelegate {
 public:
  void providerDidUpdateLocation(const Location& location) override { fixes.push_back(location); }
  void providerDidFail(const Error& error) override { errors.push_back(error.localizedDescription()); }
  void didUpdateLocations(LocationManager&, const std::vector<Location>& locations) override {
    fixes.insert(fixes.end(), locations.begin(), locations.end());
  }
  void didFailWithError(LocationManager&, const Error& error) override {
    errors.push_back(error.localizedDescription());
  }
  std::vector<Location> fixes;
  std::vector<std::string> errors;
};

class GpsdLocationProviderTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const auto missing = missingGpsd()) {
      GTEST_SKIP() << "gpsd tests skipped: " << *missing;
    }
    port = freePort();
    provider = std::make_shared<GpsdLocationProvider>("127.0.0.1", port);
    LocationServices::setProvider(provider);
  }

  void TearDown() override {
    LocationServices::setProvider(nullptr);
    provider.reset();
    queue().poll();
  }

  std::string refusedPrefix() const {
    return "无法连接到 gpsd（127.0.0.1:" + std::to_string(port) + "）：";
  }

  std::uint16_t port = 0;
  std::shared_ptr<GpsdLocationProvider> provider;
};

TEST_F(GpsdLocationProviderTest, ContinuousSessionReceivesTheLogInOrderThenReportsTheLostDaemonOnce) {
  const std::string log = dataFile("beijing_walk.nmea");
  const auto expected = fixesOfLog(log);
  ASSERT_EQ(expected.size(), 60u);
  GpsFake fake(log, port, "0.01");
  ASSERT_TRUE(fake.started());
  ASSERT_TRUE(fake.waitUntilListening());

  EXPECT_EQ(LocationManager::authorizationStatus(), AuthorizationStatus::authorizedAlways);
  auto recorder = std::make_shared<Recorder>();
  LocationManager manager;
  manager.setDelegate(recorder);
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
    const Location& got = recorder->fixes[i];
    const Location& want = expected[next];
    SCOPED_TRACE(i);
    EXPECT_EQ(got.timestamp, want.timestamp);
    EXPECT_NEAR(got.coordinate.latitude, want.coordinate.latitude, 1e-8);
    EXPECT_NEAR(got.coordinate.longitude, want.coordinate.longitude, 1e-8);
    EXPECT_NEAR(got.altitude, want.altitude, 1e-3);  // above the ellipsoid
    EXPECT_NEAR(got.speed, want.speed, 0.01);
    EXPECT_NEAR(got.course, want.course, 1e-3);
    EXPECT_GT(got.horizontalAccuracy, 0.0);
    EXPECT_GT(got.verticalAccuracy, 0.0);
  }

  EXPECT_TRUE(fake.exited());
  ASSERT_EQ(recorder->errors.size(), 1u);
  EXPECT_EQ(recorder->errors[0].rfind(refusedPrefix(), 0), 0u) << recorder->errors[0];
  manager.stopUpdatingLocation();
  EXPECT_FALSE(provider->hasListeners());
}

TEST_F(GpsdLocationProviderTest, SingleRequestGetsOneFixWithUnknownValuesNegative) {
  const std::string log = writeFlatLog();
  GpsFake fake(log, port, "0.01");
  ASSERT_TRUE(fake.started());
  ASSERT_TRUE(fake.waitUntilListening());

  auto recorder = std::make_shared<Recorder>();
  LocationManager manager;
  manager.setDelegate(recorder);
  manager.requestLocation();
  ASSERT_TRUE(queue().runUntil([&] { return !recorder->fixes.empty() || !recorder->errors.empty(); }, 30s));
  ASSERT_EQ(recorder->fixes.size(), 1u) << (recorder->errors.empty() ? "" : recorder->errors[0]);
  // The request is over: the provider has closed its watch.
  EXPECT_FALSE(provider->hasListeners());
  EXPECT_FALSE(provider->isConnected());
  // Nothing more arrives while the rest of the log is fed.
  ASSERT_TRUE(queue().runUntil([&] { return fake.exited(); }, 60s));
  queue().poll();
  ASSERT_EQ(recorder->fixes.size(), 1u);
  EXPECT_TRUE(recorder->errors.empty());

  const Location& fix = recorder->fixes[0];
  EXPECT_NEAR(fix.coordinate.latitude, 39.9087, 1e-6);
  EXPECT_NEAR(fix.coordinate.longitude, 116.3975, 1e-6);
  EXPECT_GT(fix.horizontalAccuracy, 0.0);
  EXPECT_EQ(fix.verticalAccuracy, -1.0);  // no altitude in the log
  EXPECT_EQ(fix.altitude, 0.0);
  EXPECT_EQ(fix.course, -1.0);
  std::filesystem::remove(log);
}

TEST_F(GpsdLocationProviderTest, ReportsAnAbsentDaemonOnceAndConnectsWhenItComes) {
  auto recorder = std::make_shared<Recorder>();
  provider->addListener(recorder);
  ASSERT_TRUE(queue().runUntil([&] { return !recorder->errors.empty(); }, 10s));
  EXPECT_EQ(recorder->errors[0].rfind(refusedPrefix(), 0), 0u) << recorder->errors[0];
  EXPECT_FALSE(provider->isConnected());

  // Fed slowly enough that the back-off finds it before the log ends.
  GpsFake fake(dataFile("beijing_walk.nmea"), port, "0.05");
  ASSERT_TRUE(fake.started());
  ASSERT_TRUE(queue().runUntil([&] { return recorder->fixes.size() >= 2; }, 30s));
  EXPECT_TRUE(provider->isConnected());
  // The failed retries in between were not reported again.
  EXPECT_EQ(recorder->errors.size(), 1u);

  provider->removeListener(recorder.get());
  EXPECT_FALSE(provider->isConnected());
  const auto delivered = recorder->fixes.size();
  // Reports already posted by the stopped reader are dropped.
  queue().poll();
  EXPECT_EQ(recorder->fixes.size(), delivered);
}

}  // namespace
}  // namespace tovik
