#include "provider_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/geoclue_world.h"
#include "support/test_server.h"
#include "support/utc_text.h"

namespace tovik::test {
namespace {

using namespace std::chrono_literals;

}  // namespace

std::string describe(const Location& fix, bool withTime) {
  const std::string time = withTime ? utcText(fix.timestamp) + " " : "";
  char line[200];
  std::snprintf(line, sizeof line, "fix %s%.7f %.7f alt %.2f h %.2f v %.2f speed %.3f course %.2f", time.c_str(),
                fix.coordinate.latitude, fix.coordinate.longitude, fix.altitude, fix.horizontalAccuracy,
                fix.verticalAccuracy, fix.speed, fix.course);
  return line;
}

std::string describe(const LocationAvailability& availability) {
  return std::string("availability ") + (availability.available ? "true " : "false ") +
         std::string(toString(availability.reason)) + " " + availability.source;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  if (const auto at = text.find(from); at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::uint16_t freePort() { return static_cast<std::uint16_t>(TestServer({.threads = 1}).port()); }

Gpsd::Gpsd(Feed feed, const std::string& log)
    : port_(freePort()), dir_(std::filesystem::temp_directory_path() / ("tovik_gpsd_" + std::to_string(port_))) {
  EXPECT_TRUE(haveProgram("gpsfake") && haveProgram("gpsd")) << "packages gpsd and gpsd-clients";
  std::filesystem::create_directories(dir_);
  const std::string port = std::to_string(port_);
  // Fed once, gpsfake watches with a client of its own and feeds fast: a client that connects as
  // soon as gpsd answers sees the whole log.
  const std::vector<std::string> argv =
      feed == Feed::bare   ? std::vector<std::string>{"gpsd", "-N", "-n", "-F", (dir_ / "control").string(), "-S", port}
      : feed == Feed::once ? std::vector<std::string>{"gpsfake", "-1", "-p", "-q", "-c", "0.01", "-P", port, log}
                           : std::vector<std::string>{"gpsfake", "-q", "-c", "0.05", "-P", port, log};
  // gpsfake and gpsd keep their control sockets in TMPDIR, and leave them behind: a folder of our own.
  pid_ = spawnDaemon(argv, dir_ / "gpsd.log", {"TMPDIR=" + dir_.string()});
  // gpspipe shows gpsd's DEVICES report; looping, wait for the receiver: the automatic choice asks for one.
  const std::string devices = "timeout 2 gpspipe -w -n 3 127.0.0.1:" + port + " 2>/dev/null | grep '\"DEVICES\"'" +
                              (feed == Feed::bare      ? " | grep -qv path"
                               : feed == Feed::looping ? " | grep -q path"
                                                       : " >/dev/null");
  for (int i = 0; pid_ > 0 && i < 200 && !ready_ && !exited(); ++i) {
    ready_ = std::system(devices.c_str()) == 0;
    if (!ready_) std::this_thread::sleep_for(50ms);
  }
}

Gpsd::~Gpsd() {
  killDaemon(pid_);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool Gpsd::exited() { return pid_ <= 0 || ::waitpid(pid_, nullptr, WNOHANG) == pid_ || ::kill(pid_, 0) != 0; }

}  // namespace tovik::test
