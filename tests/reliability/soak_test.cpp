// A continuous session at the shortest interval the kit allows against the loopback service
// while the network flips between reachable and not. Every tick must give exactly one result
// or error, and memory and descriptors must end where they started. TOVIK_SOAK_SECONDS sets
// the length (10 s unless given; the CTest case reliability.soak, label soak, runs it for
// 120 s in CI). The figures are printed for the record in bench/README.md.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "reliability/reliability_env.h"
#include "support/test_server.h"
#include "tovik/network/network_client.h"

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

// Resident set size of this process.
std::int64_t residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::strtoll(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// The open descriptors of this process. Both ends of each connection between the kit and the
// test server live here, and how many of those the kit keeps alive depends on how many
// exchanges once overlapped (on a busy machine, more), not on how long the session ran: they
// are counted apart, and the kit's ends are held to its per-host limit instead.
struct Descriptors {
  int all = 0;
  int kitEnds = 0;     // connected to the server's port
  int serverEnds = 0;  // accepted on the server's port
  int others() const { return all - kitEnds - serverEnds; }
};

Descriptors descriptorsNow(int serverPort) {
  Descriptors counted;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++counted.all;
    const int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_in local{};
    sockaddr_in peer{};
    socklen_t length = sizeof(local);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_family != AF_INET) continue;
    length = sizeof(peer);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;  // the listener
    counted.kitEnds += ntohs(peer.sin_port) == serverPort ? 1 : 0;
    counted.serverEnds += ntohs(local.sin_port) == serverPort ? 1 : 0;
  }
  return counted;
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
  const Descriptors fdsStart = descriptorsNow(server.port());

  MainQueue::shared().runFor(soakLength());
  facade->stopLocation();
  ASSERT_TRUE(runUntil(settled)) << tally->outcomes() << " outcomes for " << ticks << " ticks";
  MainQueue::shared().runFor(50ms);  // room for a stray outcome
  // What the session let go of may be closed a moment later on another thread: the count
  // is read once it has come down, or at the deadline.
  Descriptors fdsEnd = descriptorsNow(server.port());
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (fdsEnd.others() > fdsStart.others() && std::chrono::steady_clock::now() < deadline) {
    MainQueue::shared().runFor(10ms);
    fdsEnd = descriptorsNow(server.port());
  }
  const auto rssEnd = residentKilobytes();

  std::cout << "soak: " << soakLength().count() << " s, " << ticks << " ticks (" << offlineTicks << " offline), "
            << tally->results << " results, " << tally->errors << " errors, RSS " << rssStart << " -> " << rssEnd
            << " kB, descriptors " << fdsStart.all << " -> " << fdsEnd.all << " (kept-alive connections "
            << fdsStart.kitEnds << " -> " << fdsEnd.kitEnds << ")" << std::endl;

  EXPECT_EQ(tally->outcomes(), ticks);
  EXPECT_EQ(tally->offMainThread, 0);
  EXPECT_EQ(served.load(), ticks - offlineTicks);
  EXPECT_GT(offlineTicks, 0);
  EXPECT_LE(fdsEnd.others(), fdsStart.others()) << "descriptors leak";
  EXPECT_LE(fdsEnd.kitEnds, NetworkClient::shared().configuration().maximumConnectionsPerHost)
      << "connections leak";
#ifndef TOVIK_SANITIZED  // the sanitizers hold freed memory back on purpose
  EXPECT_LE(rssEnd - rssStart, 8 * 1024) << "memory grows with every tick";
#endif
}

}  // namespace
}  // namespace tovik::test
