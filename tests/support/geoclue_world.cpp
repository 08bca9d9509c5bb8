#include "support/geoclue_world.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

#include "support/file_text.h"
#include "tovik/providers/geoclue_location_provider.h"

extern char** environ;

namespace tovik::test {

namespace {

using namespace std::chrono_literals;

constexpr const char* kGeoclue = "/usr/libexec/geoclue";
constexpr const char* kGeoclueConf = "/etc/geoclue/geoclue.conf";
// GeoClue holds every new client until an agent has registered; Debian ships this one.
constexpr const char* kDemoAgent = "/usr/libexec/geoclue-2.0/demos/agent";

// One of the world's configuration files (beside the providers' tests), for the world in `dir`.
void writeConfig(const std::string& name, const std::filesystem::path& dir) {
  std::string text = fileText(std::filesystem::path(TOVIK_TESTS_DIR) / "providers/data/geoclue" / name);
  for (auto at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@", at)) {
    text.replace(at, 5, dir.string());
  }
  std::ofstream(dir / name) << text;
}

}  // namespace

bool haveProgram(const std::string& program) {
  const std::string check = "PATH=\"$PATH:/usr/sbin:/sbin\" command -v '" + program + "' >/dev/null";
  return std::system(check.c_str()) == 0;
}

pid_t spawnDaemon(const std::vector<std::string>& argv, const std::filesystem::path& output,
                  const std::vector<std::string>& extraEnvironment) {
  // setsid gives it a process group of its own (killDaemon ends the whole group) without a fork;
  // the shell redirects, env sets the extra variables.
  std::vector<std::string> args = {"setsid", "sh", "-c", "exec env \"$@\" </dev/null >>\"$0\" 2>&1", output.string()};
  args.insert(args.end(), extraEnvironment.begin(), extraEnvironment.end());
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> raw;
  for (auto& arg : args) raw.push_back(arg.data());
  raw.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawnp(&pid, "setsid", nullptr, nullptr, raw.data(), environ) == 0 ? pid : -1;
}

void killDaemon(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

GeoclueWorld::GeoclueWorld(std::string nmeaLog) : nmeaLog_(std::move(nmeaLog)) {
  for (const std::string program :
       {"dbus-daemon", "dbus-monitor", "dbus-send", "unshare", "mount", kGeoclue, kDemoAgent}) {
    if (!haveProgram(program)) {
      problem_ =
          program + " is not installed (scripts/bootstrap installs dbus-daemon, dbus-bin, util-linux and geoclue-2.0)";
      return;
    }
  }
  if (::access(kGeoclueConf, F_OK) != 0 || ::geteuid() != 0) {
    problem_ = "the GeoClue tests need root and " + std::string(kGeoclueConf) + " (package geoclue-2.0) to bind-mount";
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "tovik_geoclue_XXXXXX").string();
  dir_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : "/nonexistent";  // then nothing listens
  writeConfig("bus.conf", dir_);
  writeConfig("geoclue.conf", dir_);
  busAddress_ = "unix:path=" + (dir_ / "bus").string();

  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (dir_ / "nmea").c_str(), sizeof address.sun_path - 1);
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 4) != 0) {
    problem_ = "cannot listen on " + (dir_ / "nmea").string();
    return;
  }
  feeder_ = std::thread([this] { serveNmea(); });

  bus_ = spawnDaemon({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + (dir_ / "bus.conf").string()},
                     dir_ / "dbus.log");
  // The socket appears once the bus listens.
  for (int i = 0; i < 200 && bus_ > 0 && !std::filesystem::exists(dir_ / "bus"); ++i) std::this_thread::sleep_for(25ms);
  if (bus_ < 0 || ::waitpid(bus_, nullptr, WNOHANG) == bus_ || !std::filesystem::exists(dir_ / "bus")) {
    bus_ = -1;
    problem_ = "dbus-daemon did not start: " + fileText(dir_ / "dbus.log");
    return;
  }
  if (!startGeoclue()) problem_ = "GeoClue did not come up on the private bus: " + geoclueLog();
}

GeoclueWorld::~GeoclueWorld() {
  killGeoclue();
  killDaemon(bus_);
  stopping_ = true;
  ::shutdown(listener_, SHUT_RDWR);  // wakes the feeder's accept
  if (feeder_.joinable()) feeder_.join();
  if (listener_ >= 0) ::close(listener_);
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool GeoclueWorld::startGeoclue() {
  const std::string bus = "DBUS_SYSTEM_BUS_ADDRESS=" + busAddress_;
  if (geoclue_ <= 0) {
    // A private mount namespace shows GeoClue the world's configuration; a private network
    // namespace keeps it on loopback.
    const std::string script =
        "mount --bind " + (dir_ / "geoclue.conf").string() + " " + kGeoclueConf + " && exec " + kGeoclue;
    geoclue_ = spawnDaemon({"unshare", "--mount", "--net", "--propagation", "private", "sh", "-c", script},
                           dir_ / "geoclue.log", {bus});
  }
  bool up = false;
  for (int i = 0; geoclue_ > 0 && !up && i < 200; ++i) {
    up = GeoclueLocationProvider::isOnBus(busAddress_, 500ms);
    if (!up && ::waitpid(geoclue_, nullptr, WNOHANG) == geoclue_) geoclue_ = -1;
    if (!up) std::this_thread::sleep_for(25ms);
  }
  if (!up) return false;
  if (agent_ <= 0) agent_ = spawnDaemon({kDemoAgent}, dir_ / "agent.log", {bus});
  // GeoClue hands out clients at once when an agent is there. The client goes when dbus-send
  // leaves the bus.
  const std::string createClient = "dbus-send --bus=" + busAddress_ +
                                   " --print-reply --reply-timeout=200 --dest=org.freedesktop.GeoClue2"
                                   " /org/freedesktop/GeoClue2/Manager org.freedesktop.GeoClue2.Manager.CreateClient"
                                   " >/dev/null 2>&1";
  for (int i = 0; agent_ > 0 && i < 100; ++i) {
    if (std::system(createClient.c_str()) == 0) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

void GeoclueWorld::killAgent() { killDaemon(agent_); }

void GeoclueWorld::killGeoclue() {
  killDaemon(agent_);
  killDaemon(geoclue_);
}

std::string GeoclueWorld::geoclueLog() const { return fileText(dir_ / "geoclue.log"); }

std::vector<GeoclueWorld::Epoch> GeoclueWorld::epochsOf(const std::string& log) {
  std::vector<Epoch> epochs;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    int latDegrees = 0, lonDegrees = 0;
    double latMinutes = 0, lonMinutes = 0;
    char north = 0, east = 0;
    if (line.size() > 6 && line.compare(3, 3, "GGA") == 0 &&
        std::sscanf(line.c_str() + 6, ",%*[^,],%2d%lf,%c,%3d%lf,%c", &latDegrees, &latMinutes, &north, &lonDegrees,
                    &lonMinutes, &east) == 6) {
      epochs.push_back({(latDegrees + latMinutes / 60.0) * (north == 'S' ? -1 : 1),
                        (lonDegrees + lonMinutes / 60.0) * (east == 'W' ? -1 : 1)});
    }
  }
  return epochs;
}

// Serves the log, one epoch (the lines from one GGA to the next) at a time, over and over so
// that a late session still gets fixes; a new connection (GeoClue restarted) starts it again.
void GeoclueWorld::serveNmea() {
  std::vector<std::string> epochs;
  std::ifstream in(nmeaLog_);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (epochs.empty() || (line.size() > 6 && line.compare(3, 3, "GGA") == 0)) epochs.emplace_back();
    epochs.back() += line + "\r\n";
  }
  while (!stopping_) {
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    pollfd pending{listener_, POLLIN, 0};
    for (std::size_t i = 0; client >= 0 && !stopping_ && !epochs.empty() && ::poll(&pending, 1, 0) == 0;
         i = (i + 1) % epochs.size()) {
      if (::send(client, epochs[i].data(), epochs[i].size(), MSG_NOSIGNAL) < 0) break;
      std::this_thread::sleep_for(100ms);
    }
    if (client >= 0) ::close(client);
  }
}

}  // namespace tovik::test
