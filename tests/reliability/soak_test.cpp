// A continuous session at a 20 ms interval against the loopback service while the network
// flips between reachable and not. Every tick must give exactly one result or error,
// and memory and descriptors must end where they started. TOVIK_SOAK_SECONDS sets the
// length (10 s unless given; CI runs it once for 120 s). The figures are printed for the
// record in bench/README.md.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "reliability/reliability_env.h"
#include "support/test_server.h"

namespace tovik::test {
namespace {

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOVIK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TOVIK_SANITIZED 1
#endif
#endif

// Resident set size and open descriptors of this process.
std::int64_t residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::strtoll(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}
int openDescriptors() {
  const std::filesystem::directory_iterator entries("/proc/self/fd");
  return static_cast<int>(std::distance(begin(entries), end(entries)));
}

std::chrono::seconds soakLength() {
  const char* text = std::getenv("TOVIK_SOAK_SECONDS");
  const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 10);
}

// Counts instead of recording, so that the test's own bookkeeping does not grow.
struct Tally : LocationDelegate {
  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>&) override { note(results); }
  void onLocationErrorWithMsg(const std::string&) override { note(errors); }
  void note(long& count) {
    ++count;
    offMainThread += MainQueue::shared().isMainThread() ? 0 : 1;
  }
  long outcomes() const { return results + errors; }

  long results = 0;
  long errors = 0;
  long offMainThread = 0;
};

class Soak : public ReliabilityTest {};

TEST_F(Soak, EveryTickGivesOneOutcomeAndNothingAccumulates) {
  TestServer server(TestServerOptions{.threads = 8, .recordRequests = false});
  std::atomic<long> served{0};
  server.on("POST", "/location/hub/v1/track_points", [&](const httplib::Request&, httplib::Response& response) {
    ++served;
    response.set_content(kLocationJson, "application/json");
  });
  // The session asks for reachability once per tick (the first fix included), so the
  // number of readings is the number of ticks. Every 25 ticks the network flips.
  long ticks = 0;
  long offlineTicks = 0;
  NetworkChecker::setFlagsSource([&]() -> std::optional<std::uint32_t> {
    const bool online = (ticks++ / 25) % 2 == 0;
    offlineTicks += online ? 0 : 1;
    return online ? NetworkChecker::kReachable : 0;
  });

  auto tally = std::make_shared<Tally>();
  auto facade = readyFacade(tally, server.baseURL(), kAccessKey);
  facade->isLocateOnce = false;
  facade->interval = 0.02;
  consoleOf([&] { facade->startLocation(); });  // its warnings stay out of the output
  provider->pushLocation(fixAt(39.9042, 116.4074));

  const auto settled = [&] { return tally->outcomes() == ticks; };
  // Warm up (connections, allocator pools) before taking the starting figures.
  MainQueue::shared().runFor(1s);
  ASSERT_TRUE(runUntil(settled));
  const auto rssStart = residentKilobytes();
  const int fdsStart = openDescriptors();

  MainQueue::shared().runFor(soakLength());
  facade->stopLocation();
  ASSERT_TRUE(runUntil(settled)) << tally->outcomes() << " outcomes for " << ticks << " ticks";
  MainQueue::shared().runFor(50ms);  // room for a stray outcome
  const auto rssEnd = residentKilobytes();
  const int fdsEnd = openDescriptors();

  std::cout << "soak: " << soakLength().count() << " s, " << ticks << " ticks (" << offlineTicks << " offline), "
            << tally->results << " results, " << tally->errors << " errors, RSS " << rssStart << " -> " << rssEnd
            << " kB, descriptors " << fdsStart << " -> " << fdsEnd << std::endl;

  EXPECT_EQ(tally->outcomes(), ticks);
  EXPECT_EQ(tally->offMainThread, 0);
  EXPECT_EQ(served.load(), ticks - offlineTicks);
  EXPECT_GT(offlineTicks, 0);
  EXPECT_LE(fdsEnd, fdsStart + 2) << "descriptors leak";
#ifndef TOVIK_SANITIZED  // the sanitizers hold freed memory back on purpose
  EXPECT_LE(rssEnd - rssStart, 8 * 1024) << "memory grows with every tick";
#endif
}

}  // namespace
}  // namespace tovik::test
