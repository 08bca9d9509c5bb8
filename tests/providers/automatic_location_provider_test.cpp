#include "tovik/providers/automatic_location_provider.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/geoclue_world.h"
#include "tovik/runloop/main_queue.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::GeoclueWorld;

const std::string kLog = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";

struct Recorder : LocationProviderListener {
  std::vector<Location> fixes;
  std::vector<Error> errors;
  void providerDidUpdateLocation(const Location& location) override { fixes.push_back(location); }
  void providerDidFail(const Error& error) override { errors.push_back(error); }
};

// A loopback port nothing listens on (bound, read, released).
std::uint16_t freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

// gpsd's answer to ?DEVICES; on `port`, empty if it gives none.
std::string devicesOf(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string text;
  timeval timeout{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::write(fd, "?DEVICES;\n", 10) == 10) {
    std::array<char, 4096> chunk{};
    for (ssize_t got = 0; text.find("\"DEVICES\"") == std::string::npos &&
                          (got = ::read(fd, chunk.data(), chunk.size())) > 0;) {
      text.append(chunk.data(), static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  const auto at = text.find("{\"class\":\"DEVICES\"");
  return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

// A gpsd of the test's own on a loopback port: with gpsfake feeding it the log through a
// device, or bare (listening, no device).
class Gpsd {
 public:
  Gpsd(bool withDevice) : port_(freePort()), dir_(std::filesystem::temp_directory_path() / ("tovik_auto_" + std::to_string(port_))) {
    std::filesystem::create_directories(dir_);
    // gpsfake keeps its control socket in TMPDIR.
    std::vector<std::string> argv = withDevice
        ? std::vector<std::string>{"env", "TMPDIR=" + dir_.string(), "gpsfake", "-q", "-c", "0.05", "-P",
                                   std::to_string(port_), kLog}
        : std::vector<std::string>{"gpsd", "-N", "-n", "-F", (dir_ / "control").string(), "-S", std::to_string(port_)};
    pid_ = test::spawnDaemon(argv, dir_ / "gpsd.log");
    for (int i = 0; i < 200 && !ready(withDevice); ++i) std::this_thread::sleep_for(50ms);
  }
  ~Gpsd() {
    test::killDaemon(pid_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::uint16_t port() const { return port_; }
  bool ready(bool withDevice) const {
    const std::string devices = devicesOf(port_);
    return !devices.empty() && (devices.find("\"path\"") != std::string::npos) == withDevice;
  }

 private:
  std::uint16_t port_;
  std::filesystem::path dir_;
  pid_t pid_ = -1;
};

AutomaticLocationProvider::Options optionsFor(std::uint16_t gpsdPort, std::string busAddress) {
  AutomaticLocationProvider::Options options;
  options.gpsdHost = "127.0.0.1";
  options.gpsdPort = gpsdPort;
  options.geoclue.busAddress = std::move(busAddress);
  options.geoclue.desktopId = GeoclueWorld::kAllowedApp;
  return options;
}

bool runUntil(const std::function<bool()>& predicate, std::chrono::steady_clock::duration timeout = 20s) {
  return MainQueue::shared().runUntil(predicate, timeout);
}

TEST(AutomaticLocationProviderTest, ChoosesGpsdWithADeviceThenGeoclue) {
  ASSERT_TRUE(test::haveProgram("gpsfake") && test::haveProgram("gpsd")) << "gpsd and gpsd-clients are needed";
  GeoclueWorld world(kLog);
  ASSERT_EQ(world.problem(), "");
  struct Case {
    const char* name;
    std::function<std::unique_ptr<Gpsd>()> gpsd;
    AutomaticLocationProvider::Source expected;
  };
  const std::vector<Case> cases = {
      {"gpsd with a receiver wins over GeoClue", [] { return std::make_unique<Gpsd>(true); },
       AutomaticLocationProvider::Source::gpsd},
      {"gpsd without a receiver gives GeoClue", [] { return std::make_unique<Gpsd>(false); },
       AutomaticLocationProvider::Source::geoclue},
      {"no gpsd gives GeoClue", [] { return nullptr; }, AutomaticLocationProvider::Source::geoclue},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto gpsd = c.gpsd();
    if (gpsd) {
      ASSERT_TRUE(gpsd->ready(c.expected == AutomaticLocationProvider::Source::gpsd));
    }
    const auto provider =
        std::make_shared<AutomaticLocationProvider>(optionsFor(gpsd ? gpsd->port() : freePort(), world.busAddress()));
    const auto recorder = std::make_shared<Recorder>();
    provider->addListener(recorder);
    ASSERT_TRUE(runUntil([&] { return !recorder->fixes.empty() || !recorder->errors.empty(); }));
    ASSERT_TRUE(recorder->errors.empty()) << recorder->errors.front().localizedDescription();
    EXPECT_EQ(provider->source(), c.expected);
    EXPECT_NEAR(recorder->fixes.front().coordinate.latitude, 39.0 + 54.522 / 60.0, 1e-3);
    EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::authorizedAlways);
    provider->removeListener(recorder.get());
    EXPECT_EQ(provider->source(), c.expected);
  }
}

TEST(AutomaticLocationProviderTest, NeitherSourceIsOneErrorNamingBoth) {
  const auto provider = std::make_shared<AutomaticLocationProvider>(optionsFor(freePort(), "unix:path=/nonexistent/bus"));
  const auto recorder = std::make_shared<Recorder>();
  provider->addListener(recorder);
  ASSERT_TRUE(runUntil([&] { return !recorder->errors.empty(); }, 10s));
  MainQueue::shared().runFor(1800ms);  // the probe goes on, silently
  ASSERT_EQ(recorder->errors.size(), 1U);
  const Error& error = recorder->errors.front();
  EXPECT_EQ(error.domain(), AutomaticLocationProvider::kErrorDomain);
  EXPECT_EQ(error.code(), AutomaticLocationProvider::kErrorNoSource);
  for (const std::string word : {"gpsd（127.0.0.1:", "没有应答", "GeoClue2", "安装 gpsd", "geoclue-2.0"}) {
    EXPECT_NE(error.localizedDescription().find(word), std::string::npos) << word;
  }
  EXPECT_EQ(provider->source(), AutomaticLocationProvider::Source::none);
  EXPECT_TRUE(provider->currentFailure().has_value());
  provider->removeListener(recorder.get());
}

}  // namespace
}  // namespace tovik
