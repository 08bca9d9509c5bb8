#include <gtest/gtest.h>

#include <sched.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tovik/network/network_checker.h"
#include "tovik/network/reachability_probe.h"

namespace tovik::test {
namespace {

TEST(NetworkCheckerTest, ReachableWithoutConnectionRequiredIsAvailable) {
  const std::vector<std::pair<std::optional<std::uint32_t>, bool>> table = {
      {std::nullopt, false},  // the platform could not read the flags
      {0u, false},
      {2u, true},  // reachable
      {2u | 1u | 8u | 0x10000u, true},
      {~4u, true},       // every other bit set
      {2u | 4u, false},  // reachable, but a connection must be set up first
      {4u, false},
      {~0u, false},
      {1u | 8u, false},  // other bits without reachable
  };
  std::optional<std::uint32_t> flags;
  NetworkChecker::setFlagsSourceForTesting([&] { return flags; });
  for (const auto& [given, available] : table) {
    EXPECT_EQ(NetworkChecker::isAvailable(given), available) << (given ? std::to_string(*given) : "none");
    flags = given;  // read afresh every time
    EXPECT_EQ(NetworkChecker::isNetworkAvailable(), available);
  }
  NetworkChecker::setFlagsSourceForTesting(nullptr);
  // Any Linux has routing tables, even a machine with loopback only (which gives 0, not none).
  ASSERT_TRUE(ReachabilityProbe::currentFlags().has_value());
  EXPECT_EQ(NetworkChecker::isNetworkAvailable(), NetworkChecker::isAvailable(ReachabilityProbe::currentFlags()));
}

using State = ReachabilityProbe::InterfaceState;
using Routing = ReachabilityProbe::RoutingState;

constexpr std::uint32_t kMain = 254;
constexpr std::uint32_t kTunnel = 51820;

TEST(ReachabilityProbeTest, DefaultRouteOfALookedUpTableThroughAnUpInterfaceIsReachable) {
  using enum ReachabilityProbe::InterfaceState;
  using Tables = std::set<std::pair<int, std::uint32_t>>;
  const Tables usual = {{AF_INET, 255}, {AF_INET, kMain}, {AF_INET, 253}, {AF_INET6, 255}, {AF_INET6, kMain}};
  Tables tunnel = usual;
  tunnel.emplace(AF_INET, kTunnel);
  const struct {
    std::string name;
    std::vector<Routing::DefaultRoute> routes;
    std::optional<Tables> tables;
    std::map<int, State> interfaces;
    std::uint32_t flags;
  } cases[] = {
      {"Ipv4DefaultUp", {{AF_INET, kMain, {2}}}, usual, {{2, up}}, 2},
      {"Ipv4DefaultDown", {{AF_INET, kMain, {2}}}, usual, {{2, down}}, 0},
      {"Ipv4DefaultDormant", {{AF_INET, kMain, {2}}}, usual, {{2, connecting}}, 6},
      {"NoDefaultRoute", {}, usual, {{2, up}}, 0},
      {"Ipv6OnlyDevice", {{AF_INET6, kMain, {3}}}, usual, {{3, up}}, 2},
      {"ThroughLoopbackOrAGoneInterface", {{AF_INET, kMain, {1}}}, usual, {{2, up}}, 0},
      {"DormantAndUp", {{AF_INET, kMain, {2}}, {AF_INET6, kMain, {3}}}, usual, {{2, connecting}, {3, up}}, 2},
      {"MultipathWithOneHopUp", {{AF_INET, kMain, {2, 3}}}, usual, {{2, down}, {3, up}}, 2},
      {"TunnelTableLookedUp", {{AF_INET, kTunnel, {4}}}, tunnel, {{4, up}}, 2},
      {"TunnelTableNoRuleLooksUp", {{AF_INET, kTunnel, {4}}}, usual, {{4, up}}, 0},
      {"TableLookedUpForTheOtherFamilyOnly", {{AF_INET6, kTunnel, {4}}}, tunnel, {{4, up}}, 0},
      {"RulesUnreadableEveryTableCounts", {{AF_INET, kTunnel, {4}}}, std::nullopt, {{4, up}}, 2},
  };
  for (const auto& c : cases) {
    const Routing routing{.defaultRoutes = c.routes, .lookedUpTables = c.tables, .interfaces = c.interfaces};
    EXPECT_EQ(ReachabilityProbe::flagsFrom(routing), c.flags) << c.name;
  }
}

// The kernel's own tables, read in a network namespace of the test's making: a WireGuard-style
// default route that lives only in its own table, selected by a rule, and the plain cases.
TEST(ReachabilityProbeDeathTest, ReadsTheKernelsRoutesInEveryTable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    const char* step;  // run with sh in the namespace
    const char* flags;
  } steps[] = {
      {"ip link set lo up", "0"},  // loopback only
      {"ip link add t0 type veth peer name t1 && ip link set t1 up && ip link set t0 up"
       " && ip addr add 10.200.0.2/24 dev t0 && ip route add default dev t0 table 51820",
       "0"},  // no rule looks that table up
      {"ip rule add not fwmark 51820 table 51820 && ip rule add table main suppress_prefixlength 0", "2"},
      {"ip link set t0 down", "0"},
      {"ip link set t0 up && ip rule del table 51820 && ip route add unreachable default", "0"},
      {"ip route del unreachable default && ip -6 route add default dev t0", "2"},  // IPv6 only
      {"ip -6 route del default dev t0 && ip route add default via 10.200.0.1 dev t0", "2"},
  };
  std::string expected = "flags:";
  for (const auto& step : steps) {
    expected += std::string(" ") + step.flags;
  }
  EXPECT_EXIT(
      {
        // The namespace goes with this child process.
        if (::unshare(CLONE_NEWNET) != 0) {
          std::fprintf(stderr, "unshare(CLONE_NEWNET) failed: %s\n", std::strerror(errno));
          std::_Exit(1);
        }
        std::string seen = "flags:";
        for (const auto& step : steps) {
          const std::string command = std::string("PATH=/usr/sbin:/sbin:/usr/bin:/bin; ") + step.step;
          if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", step.step);
            std::_Exit(1);
          }
          const auto flags = ReachabilityProbe::currentFlags();
          seen += " " + (flags ? std::to_string(*flags) : std::string("none"));
        }
        std::fprintf(stderr, "%s\n", seen.c_str());
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "^" + expected + "\n$");
}

}  // namespace
}  // namespace tovik::test
