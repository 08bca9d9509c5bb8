// How soon a 1 Hz source that stops is reported unavailable: from the kit's receipt of its last
// fix to the availability event (the watchdog's rule is twice the expected interval, 2 s at
// 1 Hz). Two sources: the NMEA replay of six epochs of the Beijing walk at its own pace, and a
// real gpsd reading the same epochs, one a second, from a TCP feed that then falls silent but
// stays connected (a receiver that stops talking, gpsd still up).

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/geoclue_world.h"
#include "tovik/providers/gpsd_location_provider.h"
#include "tovik/providers/nmea_replay_provider.h"
#include "tovik/runloop/main_queue.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kEpochs = 6;

// The first epochs of the walk (GGA, GSA, RMC each).
std::vector<std::string> walkEpochs() {
  std::ifstream in(std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea");
  std::vector<std::string> epochs;
  for (std::string line; std::getline(in, line) && epochs.size() <= kEpochs;) {
    if (line.compare(3, 3, "GGA") == 0) epochs.emplace_back();
    epochs.back() += line + "\r\n";
  }
  epochs.resize(kEpochs);
  return epochs;
}

// What a source reported: the receipt of its last fix and its first unavailability.
struct Watcher : tovik::LocationProviderListener {
  void providerDidUpdateLocation(const tovik::Location& fix) override { lastFix = fix.receivedAt; }
  void providerDidFail(const tovik::Error&) override { failed = true; }
  void providerDidChangeAvailability(const tovik::LocationAvailability& change) override {
    if (!change.available && !reported) {
      reported = Clock::now();
      expected = change.expectedInterval.count();
      silent = change.reason == tovik::LocationAvailability::Reason::silent;
    }
  }
  std::optional<Clock::time_point> lastFix;
  std::optional<Clock::time_point> reported;
  double expected = 0.0;
  bool silent = false;
  bool failed = false;
};

// Runs `provider` until it is reported unavailable; the time from its last fix is the iteration's.
bool timeSilence(benchmark::State& state, tovik::LocationProvider& provider, double& expected, double& fixes) {
  const auto watcher = std::make_shared<Watcher>();
  provider.addListener(watcher);
  tovik::MainQueue::shared().runUntil([&] { return watcher->reported.has_value(); }, 60s);
  provider.removeListener(watcher.get());
  if (!watcher->reported || !watcher->lastFix || !watcher->silent) {
    state.SkipWithError(watcher->failed ? "the source failed" : "no silence reported");
    return false;
  }
  state.SetIterationTime(std::chrono::duration<double>(*watcher->reported - *watcher->lastFix).count());
  expected += watcher->expected;
  fixes += 1;
  return true;
}

void BM_SilenceOfA1HzReplay(benchmark::State& state) {
  const auto log = std::filesystem::temp_directory_path() / "tovik_bench_silence.nmea";
  {
    std::ofstream out(log);
    for (const auto& epoch : walkEpochs()) out << epoch;
  }
  double expected = 0.0, runs = 0.0;
  for (auto _ : state) {
    tovik::NmeaReplayProvider provider(log.string(), 1.0);
    if (!timeSilence(state, provider, expected, runs)) break;
  }
  state.counters["expected_s"] = expected / std::max(runs, 1.0);
  std::filesystem::remove(log);
}

// A loopback listener; its port.
int listenOnLoopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  if (fd < 0 || ::bind(fd, any, size) != 0 || ::listen(fd, 4) != 0 || ::getsockname(fd, any, &size) != 0) return -1;
  port = ntohs(address.sin_port);
  return fd;
}

std::uint16_t freePort() {
  std::uint16_t port = 0;
  const int fd = listenOnLoopback(port);
  ::close(fd);
  return port;
}

void BM_SilenceOfA1HzGpsd(benchmark::State& state) {
  if (!tovik::test::haveProgram("gpsd")) {
    state.SkipWithError("gpsd is not installed (scripts/bootstrap installs it)");
    return;
  }
  const auto epochs = walkEpochs();
  double expected = 0.0, runs = 0.0;
  for (auto _ : state) {
    // The receiver: gpsd connects to it and reads an epoch a second, then nothing.
    std::uint16_t feedPort = 0;
    const int listener = listenOnLoopback(feedPort);
    std::atomic<bool> done{false};
    std::thread feeder([&] {
      const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      for (const auto& epoch : epochs) {
        if (connection < 0 || done) break;
        ::send(connection, epoch.data(), epoch.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(1s);
      }
      while (!done) std::this_thread::sleep_for(10ms);
      if (connection >= 0) ::close(connection);
    });
    const std::uint16_t port = freePort();
    const auto dir = std::filesystem::temp_directory_path() / ("tovik_bench_gpsd_" + std::to_string(port));
    std::filesystem::create_directories(dir);
    pid_t gpsd = tovik::test::spawnDaemon({"gpsd", "-N", "-n", "-S", std::to_string(port),
                                           "tcp://127.0.0.1:" + std::to_string(feedPort)},
                                          dir / "gpsd.log", {"TMPDIR=" + dir.string()});
    std::this_thread::sleep_for(300ms);  // gpsd listens; the reader reconnects anyway if not yet
    tovik::GpsdLocationProvider provider("127.0.0.1", port);
    const bool ok = timeSilence(state, provider, expected, runs);
    done = true;
    ::shutdown(listener, SHUT_RDWR);
    feeder.join();
    ::close(listener);
    tovik::test::killDaemon(gpsd);
    std::filesystem::remove_all(dir);
    if (!ok) break;
  }
  state.counters["expected_s"] = expected / std::max(runs, 1.0);
}

BENCHMARK(BM_SilenceOfA1HzReplay)->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SilenceOfA1HzGpsd)->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
