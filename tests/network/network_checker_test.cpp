#include <gtest/gtest.h>

#include <map>

#include "tovik/network/network_checker.h"
#include "tovik/network/reachability_probe.h"

namespace tovik {
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

TEST(ReachabilityProbeTest, DefaultRouteThroughAnUpInterfaceIsReachable) {
  using enum ReachabilityProbe::InterfaceState;
  const std::string v4 = kIpv4Header;
  const struct {
    std::string name;
    std::optional<std::string> ipv4;
    std::optional<std::string> ipv6;
    std::map<std::string, ReachabilityProbe::InterfaceState> interfaces;
    std::uint32_t flags;
  } cases[] = {
      {"Ipv4DefaultUp", v4 + kIpv4Default + kIpv4Subnet, std::nullopt, {{"eth0", up}}, 2},
      {"Ipv4DefaultDown", v4 + kIpv4Default, std::nullopt, {{"eth0", down}}, 0},
      {"Ipv4DefaultDormant", v4 + kIpv4Default, std::nullopt, {{"eth0", connecting}}, 6},
      {"Ipv4DefaultNotUp", v4 + "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n", std::nullopt,
       {{"eth0", up}}, 0},
      {"Ipv4DefaultRejected", v4 + "eth0\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n", std::nullopt,
       {{"eth0", up}}, 0},
      {"Ipv6OnlyDevice", v4, std::string(kIpv6Link) + kIpv6Default + kIpv6LoopbackReject,
       {{"wlan0", up}, {"lo", up}}, 2},
      {"LoopbackOnlyMachine", v4, std::string(kIpv6LoopbackReject), {{"lo", up}}, 0},
      {"DormantAndUp", v4 + kIpv4Default, std::string(kIpv6Default), {{"eth0", connecting}, {"wlan0", up}}, 2},
  };
  for (const auto& c : cases) {
    const auto state = [&](std::string_view name) {
      auto it = c.interfaces.find(std::string(name));
      return it == c.interfaces.end() ? down : it->second;
    };
    const auto view = [](const std::optional<std::string>& text) {
      return text ? std::optional<std::string_view>(*text) : std::nullopt;
    };
    EXPECT_EQ(ReachabilityProbe::flagsFromRoutes(view(c.ipv4), view(c.ipv6), state), c.flags) << c.name;
  }
}

}  // namespace
}  // namespace tovik
