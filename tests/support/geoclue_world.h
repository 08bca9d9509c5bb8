#pragma once

#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace tovik::test {

/// A real GeoClue2 of its own: a private system bus (dbus-daemon with a configuration of
/// the world's), and GeoClue in a private mount and network namespace (loopback only), where
/// a bind mount shows it the world's geoclue.conf instead of the machine's. Its Wi-Fi, 3G,
/// CDMA, modem and compass sources are off; its network-NMEA source reads a Unix socket the
/// world serves, streaming an NMEA log one epoch (GGA, GSA, RMC) at a time, from its start and
/// round again, to every connection. GeoClue holds new clients until an agent registers,
/// so the world runs the demo agent Debian ships; `kAllowedApp` and the `tovik` tool's desktop id
/// (tovik-cli) are allowed by the configuration (the agent is not asked), `kRefusedApp` is
/// refused by it. Needs root.
///
/// `problem()` says why the world is not up (a program missing, a daemon that did not
/// start): tests fail on it, they never skip.
class GeoclueWorld {
 public:
  static constexpr const char* kAllowedApp = "tovik-geoclue-test";
  static constexpr const char* kRefusedApp = "tovik-geoclue-refused";

  explicit GeoclueWorld(std::string nmeaLog);
  ~GeoclueWorld();
  GeoclueWorld(const GeoclueWorld&) = delete;
  GeoclueWorld& operator=(const GeoclueWorld&) = delete;

  /// Empty when the bus and GeoClue are up.
  const std::string& problem() const { return problem_; }
  /// The private bus's address (give it to the provider, or as DBUS_SYSTEM_BUS_ADDRESS).
  const std::string& busAddress() const { return busAddress_; }

  /// Starts GeoClue and its agent (if they are not running) and waits until GeoClue hands
  /// out clients.
  bool startGeoclue();
  /// Kills GeoClue and its agent (SIGKILL) and waits for them.
  void killGeoclue();
  /// Kills the agent only: GeoClue then holds every new client.
  void killAgent();
  /// GeoClue's own output so far, for failure messages.
  std::string geoclueLog() const;

  /// The (latitude, longitude) of every GGA in `log`, in order.
  struct Epoch {
    double latitude;
    double longitude;
  };
  static std::vector<Epoch> epochsOf(const std::string& log);

 private:
  void serveNmea();

  std::filesystem::path dir_;
  std::string nmeaLog_;
  std::string busAddress_;
  std::string problem_;
  pid_t bus_ = -1;
  pid_t geoclue_ = -1;
  pid_t agent_ = -1;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread feeder_;
};

/// A program started in its own process group with its output in a file; `stop` (and the
/// destructor) kill the group.
pid_t spawnDaemon(const std::vector<std::string>& argv, const std::filesystem::path& output,
                  const std::vector<std::string>& extraEnvironment = {});
void killDaemon(pid_t& pid);

/// Whether `program` is on PATH (or in /usr/sbin, /sbin), or is an executable path.
bool haveProgram(const std::string& program);

}  // namespace tovik::test
