// Wake-ups and latency of a host's own loop that sleeps in poll() on the main queue's
// descriptor, for the queue's timeout. A wake-up is a voluntary context switch (a sleep that
// ended) of any thread of this process, read from /proc/self/task/*/status.
//
//   tovik_bench_loop --service URL [--track NMEA] [--window SECONDS] [--samples N]
//
// In one run, one facade: idle with no session; a continuous session at 1 s, the walk replayed
// in real time and each fix sent to the service, through the host's loop and then through the
// kit's own loop (runFor), over the same session; idle again once it has stopped; and the time
// from posting a work item on another thread to its running in the host's loop.

#include <poll.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tovik/client/location_delegate.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/providers/location_services.h"
#include "tovik/providers/nmea_replay_provider.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/system/bundle.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The voluntary context switches of each thread of this process so far, by thread id.
using Switches = std::map<std::string, long>;

Switches readSwitches() {
  Switches switches;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        switches[task.path().filename().string()] = std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
      }
    }
  }
  return switches;
}

// Each thread's wake-ups between two readings, named: "main" (this thread), the network
// worker by its name, "reader" for any other (a location source's).
std::string perThread(const Switches& before, const Switches& after) {
  std::map<std::string, long> named;
  const std::string self = std::to_string(::getpid());
  for (const auto& [tid, count] : after) {
    std::ifstream comm("/proc/self/task/" + tid + "/comm");
    std::string name;
    std::getline(comm, name);
    name = tid == self ? "main" : name == "tovik-network" ? name : "reader";
    const auto earlier = before.find(tid);
    named[name] += count - (earlier == before.end() ? 0 : earlier->second);
  }
  std::string text;
  for (const auto& [name, count] : named) {
    text += (text.empty() ? "" : ", ") + name + " " + std::to_string(count);
  }
  return text;
}

long sum(const Switches& switches) {
  long total = 0;
  for (const auto& entry : switches) total += entry.second;
  return total;
}

// The host's loop: sleeps on the kit's descriptor for the kit's timeout, then lets the kit run,
// until `until`.
void hostLoop(Clock::time_point until) {
  auto& queue = tovik::MainQueue::shared();
  for (Clock::time_point now = Clock::now(); now < until; now = Clock::now()) {
    pollfd kit{.fd = queue.fd(), .events = POLLIN, .revents = 0};
    const auto sleep = std::min(queue.nextTimeout().value_or(until - now), until - now);
    ::poll(&kit, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(sleep).count()));
    queue.poll();
  }
}

struct Counter : tovik::LocationDelegate {
  int results = 0;
  int errors = 0;
  void onReceivedLocationWithTkLocation(const std::shared_ptr<tovik::LocationRes>&) override { ++results; }
  void onLocationErrorWithMsg(const std::string&) override { ++errors; }
};

// Runs `drive` for `window` and prints the wake-ups of every thread per second, less the one
// that ends the window (the loop's own deadline, which a real host would not have).
template <class Drive>
void measure(const char* what, std::chrono::seconds window, const Counter& counter, Drive drive) {
  const int resultsBefore = counter.results;
  const Switches before = readSwitches();
  drive(Clock::now() + window);
  const Switches after = readSwitches();
  const long wakes = sum(after) - sum(before) - 1;
  const double seconds = std::chrono::duration<double>(window).count();
  std::printf("%-36s %5.2f wake-ups/s (%ld in %.0f s: %s; %d results)\n", what, static_cast<double>(wakes) / seconds,
              wakes, seconds, perThread(before, after).c_str(), counter.results - resultsBefore);
}

// Posts `samples` work items from another thread, a few milliseconds apart, while the host's
// loop sleeps; prints the time from each post to its work running, which includes the host's
// wake-up from poll().
void measureLatency(int samples) {
  if (samples <= 0) {
    return;
  }
  std::vector<Clock::duration> delays(static_cast<std::size_t>(samples));
  int done = 0;
  std::thread poster([&] {
    for (int i = 0; i < samples; ++i) {
      std::this_thread::sleep_for(1ms + std::chrono::microseconds(i % 7 * 250));  // off the scheduler's beat
      const Clock::time_point posted = Clock::now();
      tovik::MainQueue::shared().async([&, i, posted] {
        delays[static_cast<std::size_t>(i)] = Clock::now() - posted;
        ++done;
      });
    }
  });
  auto& queue = tovik::MainQueue::shared();
  while (done < samples) {
    pollfd kit{.fd = queue.fd(), .events = POLLIN, .revents = 0};
    ::poll(&kit, 1, 1000);
    queue.poll();
  }
  poster.join();
  std::sort(delays.begin(), delays.end());
  const auto at = [&](double q) {
    const auto index = std::min(delays.size() - 1, static_cast<std::size_t>(q * static_cast<double>(delays.size())));
    return std::chrono::duration<double, std::micro>(delays[index]).count();
  };
  std::printf("%-36s p50 %.0f us, p90 %.0f us, p99 %.0f us, max %.0f us (%d items)\n",
              "posted work to running, host loop", at(0.5), at(0.9), at(0.99), at(1.0), samples);
}

}  // namespace

int main(int argc, char** argv) {
  std::string service;
  std::string track = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";
  std::chrono::seconds window = 10s;
  int samples = 2000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--service") service = argv[i + 1];
    if (name == "--track") track = argv[i + 1];
    if (name == "--window") window = std::chrono::seconds(std::atoi(argv[i + 1]));
    if (name == "--samples") samples = std::atoi(argv[i + 1]);
  }
  if (service.empty()) {
    std::fprintf(stderr, "usage: tovik_bench_loop --service URL [--track NMEA] [--window SECONDS] [--samples N]\n");
    return 2;
  }

  tovik::MainQueue::shared().poll();  // this thread is the main thread
  tovik::TkClientLocation::setLogHandler([](std::string_view) {});  // the banner and warnings
  tovik::LocationServices::setProvider(std::make_shared<tovik::NmeaReplayProvider>(track, 1.0));
  tovik::Bundle::main().setObject("NSLocationWhenInUseUsageDescription", std::string("Measures wake-ups"));
  const auto counter = std::make_shared<Counter>();
  auto client = tovik::TkClientLocation::create(counter);
  client->setAgreePrivacy(true);
  client->initKey("bench");
  client->serviceURL = service;
  hostLoop(Clock::now() + 1s);  // past the facade's start-up

  measure("idle, no session yet", window, *counter, hostLoop);

  client->isLocateOnce = false;
  client->interval = 1.0;
  client->startLocation();
  hostLoop(Clock::now() + 3s);  // the first fix, the connection, the timer running
  measure("continuous 1 s, host loop", window, *counter, hostLoop);
  measure("continuous 1 s, kit's loop (runFor)", window, *counter,
          [](Clock::time_point until) { tovik::MainQueue::shared().runFor(until - Clock::now()); });

  client->stopLocation();
  hostLoop(Clock::now() + 2s);  // the last answer
  measure("idle, after the session", window, *counter, hostLoop);

  measureLatency(samples);
  std::printf("errors: %d\n", counter->errors);
  return counter->errors == 0 ? 0 : 1;
}
