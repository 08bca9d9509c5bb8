#include <gtest/gtest.h>

#include <map>

#include "tovik/network/network_checker.h"
#include "tovik/network/reachability_probe.h"

namespace tovik {
namespace {

TEST(NetworkCheckerTest, ReachableWithoutConnectionRequiredIsAvailable) {
  const std::vector<std::pair<std::optional<std::uint32_t>, bool>> table = {
      {std::nullopt, false},     // the platform could not read the flags
      {0u, false},               //
      {2u, true},                // reachable
      {2u | 1u | 8u | 0x10000u, true},
      {~4u, true},               // every other bit set
      {2u | 4u, false},          // reachable, but a connection must be set up first
      {4u, false},               //
      {~0u, false},              //
      {1u | 8u, false},          // other bits without reachable
  };
  for (const auto& [flags, available] : table) {
    EXPECT_EQ(NetworkChecker::isAvailable(flags), available) << (flags ? std::to_string(*flags) : "none");
  }
}

TEST(NetworkCheckerTest, AsksTheInjectedSourceEveryTime) {
  std::optional<std::uint32_t> flags = 2u;
  int reads = 0;
  NetworkChecker::setFlagsSourceForTesting([&] {
    ++reads;
    return flags;
  });
  EXPECT_TRUE(NetworkChecker::isNetworkAvailable());
  flags = 6u;
  EXPECT_FALSE(NetworkChecker::isNetworkAvailable());
  flags = std::nullopt;
  EXPECT_FALSE(NetworkChecker::isNetworkAvailable());
  EXPECT_EQ(reads, 3);

  NetworkChecker::setFlagsSourceForTesting(nullptr);
  EXPECT_EQ(NetworkChecker::isNetworkAvailable(), NetworkChecker::isAvailable(ReachabilityProbe::currentFlags()));
  EXPECT_EQ(reads, 3);
}

TEST(ReachabilityProbeTest, ReadsTheKernelRoutingTables) {
  // Any Linux has them, even a machine with loopback only (which gives 0, not none).
  EXPECT_TRUE(ReachabilityProbe::currentFlags().has_value());
}

constexpr const char* kIpv4Header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
constexpr const char* kIpv4Default = "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
constexpr const char* kIpv4Subnet = "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
constexpr const char* kIpv6Default =
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fd000000000000000000000000000001 "
    "00000400 00000002 00000000 00000003     wlan0\n";
constexpr const char* kIpv6LoopbackReject =
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "ffffffff 00000001 00000000 00200200       lo\n";
constexpr const char* kIpv6Link =
    "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "00000100 00000002 00000000 00000001     wlan0\n";

struct RouteCase {
  std::string name;
  std::optional<std::string> ipv4;
  std::optional<std::string> ipv6;
  std::map<std::string, ReachabilityProbe::InterfaceState> interfaces;
  std::uint32_t flags;
};

void PrintTo(const RouteCase& c, std::ostream* os) { *os << c.name; }

class RouteTable : public testing::TestWithParam<RouteCase> {};

TEST_P(RouteTable, DefaultRouteThroughAnUpInterfaceIsReachable) {
  const auto& c = GetParam();
  const auto state = [&](std::string_view name) {
    auto it = c.interfaces.find(std::string(name));
    return it == c.interfaces.end() ? ReachabilityProbe::InterfaceState::down : it->second;
  };
  const auto view = [](const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
  };
  EXPECT_EQ(ReachabilityProbe::flagsFromRoutes(view(c.ipv4), view(c.ipv6), state), c.flags);
}

using State = ReachabilityProbe::InterfaceState;
const std::string kHeader = kIpv4Header;

INSTANTIATE_TEST_SUITE_P(
    NetworkChecker, RouteTable,
    testing::Values(
        RouteCase{"Ipv4DefaultUp", kHeader + kIpv4Default + kIpv4Subnet, std::nullopt, {{"eth0", State::up}}, 2},
        RouteCase{"Ipv4DefaultDown", kHeader + kIpv4Default, std::nullopt, {{"eth0", State::down}}, 0},
        RouteCase{"Ipv4DefaultDormant", kHeader + kIpv4Default, std::nullopt, {{"eth0", State::connecting}}, 6},
        RouteCase{"Ipv4DefaultNotUp", kHeader + "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n",
                  std::nullopt, {{"eth0", State::up}}, 0},
        RouteCase{"Ipv4DefaultRejected", kHeader + "eth0\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n",
                  std::nullopt, {{"eth0", State::up}}, 0},
        RouteCase{"Ipv6OnlyDevice", kHeader, std::string(kIpv6Link) + kIpv6Default + kIpv6LoopbackReject,
                  {{"wlan0", State::up}, {"lo", State::up}}, 2},
        RouteCase{"LoopbackOnlyMachine", kHeader, std::string(kIpv6LoopbackReject), {{"lo", State::up}}, 0},
        RouteCase{"DormantAndUp", kHeader + kIpv4Default, std::string(kIpv6Default),
                  {{"eth0", State::connecting}, {"wlan0", State::up}}, 2}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tovik
