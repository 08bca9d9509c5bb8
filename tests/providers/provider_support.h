#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/expected_file.h"
#include "tovik/providers/location_manager.h"
#include "tovik/providers/location_provider.h"
#include "tovik/runloop/main_queue.h"

namespace tovik::test {

inline const std::string kBeijingWalk = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";

inline MainQueue& queue() { return MainQueue::shared(); }

/// A fix as one line: UTC time (unless `withTime` is false), position, altitude, accuracies,
/// speed and course, rounded so that the text is stable.
std::string describe(const Location& fix, bool withTime = true);
/// An availability change as "availability <true|false> <reason> <source>" (its times vary).
std::string describe(const LocationAvailability& availability);

/// What a provider or a manager reported, in order, on the main thread; an error as "error
/// <domain> <code> <message>", an availability change only `withAvailability`.
struct Trace : LocationManagerDelegate, LocationProviderListener {
  void didUpdateLocations(LocationManager&, const std::vector<Location>& locations) override {
    for (const auto& fix : locations) providerDidUpdateLocation(fix);
  }
  void didFailWithError(LocationManager&, const Error& error) override { providerDidFail(error); }
  void didChangeAvailability(LocationManager&, const LocationAvailability& change) override {
    providerDidChangeAvailability(change);
  }
  void providerDidChangeAvailability(const LocationAvailability& change) override {
    availability.push_back(change);
    if (withAvailability) lines.push_back(describe(change));
  }
  void providerDidUpdateLocation(const Location& fix) override {
    fixes.push_back(fix);
    lines.push_back(describe(fix, withTime));
  }
  void providerDidFail(const Error& error) override {
    errors.push_back(error);
    lines.push_back("error " + error.domain() + " " + std::to_string(error.code()) + " " +
                    error.localizedDescription());
  }

  bool withTime = true;
  bool withAvailability = false;
  std::vector<Location> fixes;
  std::vector<Error> errors;
  std::vector<LocationAvailability> availability;
  std::vector<std::string> lines;
};

/// Compares `lines` with the checked-in tests/providers/data/<name>.expected (see ExpectedFiles).
inline void expectSameAsFile(const std::vector<std::string>& lines, const std::string& name,
                             Match match = Match::exactly) {
  ExpectedFiles("providers").expectSame(lines, name, match);
}

/// `text` with its first `from` (if any) made `to`: a part that changes from run to run.
std::string replaced(std::string text, const std::string& from, const std::string& to);

/// The lines of tests/providers/data/<name>.expected.
inline std::vector<std::string> expectedLines(const std::string& name) { return ExpectedFiles("providers").lines(name); }

/// A loopback port nothing listens on (bound, read, released).
std::uint16_t freePort();

/// A gpsd of the test's own on a free loopback port: bare (listening, no receiver), or fed
/// `log` by gpsfake through a fake device, once (gpsfake and its gpsd exit at the end) or
/// round and round. The constructor waits until gpsd answers as it should.
class Gpsd {
 public:
  enum class Feed { bare, once, looping };
  explicit Gpsd(Feed feed, const std::string& log = kBeijingWalk);
  ~Gpsd();
  Gpsd(const Gpsd&) = delete;
  Gpsd& operator=(const Gpsd&) = delete;

  std::uint16_t port() const { return port_; }
  bool ready() const { return ready_; }
  bool exited();

 private:
  std::uint16_t port_;
  std::filesystem::path dir_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace tovik::test
