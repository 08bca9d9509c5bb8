#include "support/geoclue_world.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>

#include "tovik/providers/geoclue_location_provider.h"

extern char** environ;

namespace tovik::test {

namespace {

using namespace std::chrono_literals;

constexpr const char* kGeoclue = "/usr/libexec/geoclue";
constexpr const char* kGeoclueConf = "/etc/geoclue/geoclue.conf";
// GeoClue holds every new client until an agent has registered; Debian ships this one.
constexpr const char* kDemoAgent = "/usr/libexec/geoclue-2.0/demos/agent";

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

std::string busConfig(const std::filesystem::path& socket) {
  // A system bus in name (GeoClue insists), open to everyone on it: only this test uses it.
  return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" +
         socket.string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";
}

std::string geoclueConfig(const std::filesystem::path& nmeaSocket) {
  // The Wi-Fi URL points at a closed loopback port: GeoClue's IP locator would otherwise
  // look an outside host up (and the namespace has only loopback anyway).
  return "[agent]\nwhitelist=geoclue-demo-agent\n"
         "[network-nmea]\nenable=true\nnmea-socket=" +
         nmeaSocket.string() +
         "\n"
         "[3g]\nenable=false\n[cdma]\nenable=false\n[modem-gps]\nenable=false\n[compass]\nenable=false\n"
         "[wifi]\nenable=false\nurl=http://127.0.0.1:9/geolocate\nsubmit-data=false\nsubmission-nick=tovik\n"
         "[" +
         std::string(GeoclueWorld::kAllowedApp) + "]\nallowed=true\nsystem=false\nusers=\n" + "[" +
         std::string(GeoclueWorld::kToolApp) + "]\nallowed=true\nsystem=false\nusers=\n" + "[" +
         std::string(GeoclueWorld::kRefusedApp) + "]\nallowed=false\nsystem=false\nusers=\n";
}

double degrees(const std::string& value, const std::string& hemisphere, int degreeDigits) {
  if (value.size() <= static_cast<std::size_t>(degreeDigits)) return 0.0;
  const double whole = std::stod(value.substr(0, degreeDigits));
  const double minutes = std::stod(value.substr(degreeDigits));
  const double result = whole + minutes / 60.0;
  return hemisphere == "S" || hemisphere == "W" ? -result : result;
}

std::vector<std::string> fields(const std::string& sentence) {
  std::vector<std::string> out;
  std::stringstream in(sentence.substr(0, sentence.find('*')));
  for (std::string field; std::getline(in, field, ',');) out.push_back(field);
  return out;
}

// Connects to a Unix socket; -1 on failure.
int connectUnix(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

}  // namespace

bool haveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  std::stringstream dirs(std::string(std::getenv("PATH") ? std::getenv("PATH") : "") + ":/usr/sbin:/sbin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

pid_t spawnDaemon(const std::vector<std::string>& argv, const std::filesystem::path& output,
                  const std::vector<std::string>& extraEnvironment) {
  std::vector<std::string> args = argv;
  std::vector<char*> raw;
  for (auto& arg : args) raw.push_back(arg.data());
  raw.push_back(nullptr);
  std::vector<std::string> env = extraEnvironment;
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  std::vector<char*> rawEnv;
  for (auto& entry : env) rawEnv.push_back(entry.data());
  rawEnv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, raw[0], &actions, &attributes, raw.data(), rawEnv.data()) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void killDaemon(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

GeoclueWorld::GeoclueWorld(std::string nmeaLog, std::chrono::milliseconds epochInterval)
    : nmeaLog_(std::move(nmeaLog)), epochInterval_(epochInterval) {
  for (const std::string program : {"dbus-daemon", "dbus-monitor", "unshare", "mount", kGeoclue, kDemoAgent}) {
    if (!haveProgram(program)) {
      problem_ = program + " is not installed (scripts/bootstrap installs dbus-daemon, dbus-bin, util-linux and geoclue-2.0)";
      return;
    }
  }
  if (::access(kGeoclueConf, F_OK) != 0) {
    problem_ = std::string(kGeoclueConf) + " is missing (package geoclue-2.0): GeoClue's view of it is bind-mounted";
    return;
  }
  if (::geteuid() != 0) {
    problem_ = "the GeoClue tests need root (a private mount namespace for geoclue.conf)";
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "tovik_geoclue_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    problem_ = "no temporary folder";
    return;
  }
  dir_ = pattern;
  const auto busSocket = dir_ / "bus";
  const auto nmeaSocket = dir_ / "nmea";
  writeFile(dir_ / "bus.conf", busConfig(busSocket));
  writeFile(dir_ / "geoclue.conf", geoclueConfig(nmeaSocket));
  busAddress_ = "unix:path=" + busSocket.string();

  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, nmeaSocket.c_str(), sizeof address.sun_path - 1);
  stop_ = ::eventfd(0, EFD_CLOEXEC);
  if (listener_ < 0 || stop_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 4) != 0) {
    problem_ = "cannot listen on " + nmeaSocket.string();
    return;
  }
  feeder_ = std::thread([this] { serveNmea(); });

  bus_ = spawnDaemon({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + (dir_ / "bus.conf").string()},
                     dir_ / "dbus.log");
  for (int i = 0; i < 200; ++i) {
    const int fd = connectUnix(busSocket.string());
    if (fd >= 0) {
      ::close(fd);
      break;
    }
    std::this_thread::sleep_for(25ms);
  }
  if (bus_ < 0 || !GeoclueLocationProvider::isOnBus(busAddress_, 1s)) {
    // isOnBus is false but answers: a bus that does not answer at all fails here.
    if (bus_ < 0 || ::waitpid(bus_, nullptr, WNOHANG) == bus_) {
      bus_ = -1;
      problem_ = "dbus-daemon did not start: " + readAll(dir_ / "dbus.log");
      return;
    }
  }
  if (!startGeoclue()) problem_ = "GeoClue did not come up on the private bus: " + geoclueLog();
}

GeoclueWorld::~GeoclueWorld() {
  killGeoclue();
  killDaemon(bus_);
  if (stop_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stop_, &one, sizeof one);
  }
  if (feeder_.joinable()) feeder_.join();
  if (listener_ >= 0) ::close(listener_);
  if (stop_ >= 0) ::close(stop_);
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool GeoclueWorld::startGeoclue() {
  if (geoclue_ <= 0) {
    const std::string script = "mount --bind " + (dir_ / "geoclue.conf").string() + " " + kGeoclueConf +
                               " && exec " + kGeoclue;
    geoclue_ = spawnDaemon({"unshare", "--mount", "--net", "--propagation", "private", "sh", "-c", script},
                           dir_ / "geoclue.log", {"DBUS_SYSTEM_BUS_ADDRESS=" + busAddress_});
  }
  bool up = false;
  for (int i = 0; geoclue_ > 0 && !up && i < 200; ++i) {
    up = GeoclueLocationProvider::isOnBus(busAddress_, 500ms);
    if (!up && ::waitpid(geoclue_, nullptr, WNOHANG) == geoclue_) {
      geoclue_ = -1;
      return false;
    }
    if (!up) std::this_thread::sleep_for(25ms);
  }
  if (!up) return false;
  if (agent_ <= 0) agent_ = spawnDaemon({kDemoAgent}, dir_ / "agent.log", {"DBUS_SYSTEM_BUS_ADDRESS=" + busAddress_});
  for (int i = 0; agent_ > 0 && i < 100; ++i) {
    if (agentRegistered()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

void GeoclueWorld::killAgent() { killDaemon(agent_); }

void GeoclueWorld::killGeoclue() {
  killDaemon(agent_);
  killDaemon(geoclue_);
}

// Whether GeoClue hands out clients at once, which it does once an agent is there.
bool GeoclueWorld::agentRegistered() const {
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return false;
  const std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)> bus(raw, &sd_bus_flush_close_unref);
  if (sd_bus_set_address(raw, busAddress_.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 || sd_bus_start(raw) < 0) {
    return false;
  }
  sd_bus_set_method_call_timeout(raw, 200'000);
  sd_bus_message* reply = nullptr;
  const int code = sd_bus_call_method(raw, "org.freedesktop.GeoClue2", "/org/freedesktop/GeoClue2/Manager",
                                      "org.freedesktop.GeoClue2.Manager", "CreateClient", nullptr, &reply, "");
  const char* path = nullptr;
  const bool created = code >= 0 && sd_bus_message_read(reply, "o", &path) >= 0;
  if (created) {
    sd_bus_call_method(raw, "org.freedesktop.GeoClue2", "/org/freedesktop/GeoClue2/Manager",
                       "org.freedesktop.GeoClue2.Manager", "DeleteClient", nullptr, nullptr, "o", path);
  }
  sd_bus_message_unref(reply);
  return created;
}

std::string GeoclueWorld::geoclueLog() const { return readAll(dir_ / "geoclue.log"); }

std::vector<GeoclueWorld::Epoch> GeoclueWorld::epochsOf(const std::string& log) {
  std::vector<Epoch> epochs;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    const auto f = fields(line);
    if (f.size() < 9 || f[0].size() < 6 || f[0].substr(3) != "GGA" || f[2].empty()) continue;
    epochs.push_back({degrees(f[2], f[3], 2), degrees(f[4], f[5], 3), f[8].empty() ? 0.0 : std::stod(f[8])});
  }
  return epochs;
}

// Serves the log to each connection in turn: GeoClue connects again after a restart.
void GeoclueWorld::serveNmea() {
  std::vector<std::string> epochs;
  {
    std::ifstream in(nmeaLog_);
    std::string epoch;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > 6 && line.compare(3, 3, "GGA") == 0 && !epoch.empty()) {
        epochs.push_back(std::exchange(epoch, {}));
      }
      epoch += line + "\r\n";
    }
    if (!epoch.empty()) epochs.push_back(epoch);
  }
  const auto stopped = [this](int timeoutMs, int fd) {
    std::array<pollfd, 2> fds{{{stop_, POLLIN, 0}, {fd, POLLIN, 0}}};
    ::poll(fds.data(), fd >= 0 ? 2 : 1, timeoutMs);
    return (fds[0].revents & POLLIN) != 0;
  };
  while (true) {
    if (stopped(-1, listener_)) return;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    // The log over and over, so that a late session still gets fixes.
    for (std::size_t i = 0; !epochs.empty(); i = (i + 1) % epochs.size()) {
      const auto& epoch = epochs[i];
      if (::send(client, epoch.data(), epoch.size(), MSG_NOSIGNAL) < 0) break;
      // A new connection (GeoClue restarted) starts the log again.
      if (stopped(static_cast<int>(epochInterval_.count()), listener_)) {
        ::close(client);
        return;
      }
      pollfd pending{listener_, POLLIN, 0};
      if (::poll(&pending, 1, 0) > 0) break;
    }
    ::close(client);
  }
}

}  // namespace tovik::test
