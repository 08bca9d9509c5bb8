#include <gtest/gtest.h>

#include <sched.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "services/outcome_table.h"
#include "tovik/network/network_checker.h"
#include "tovik/network/reachability_probe.h"

namespace tovik::test {
namespace {

TEST(NetworkCheckerTest, ReachableWithoutConnectionRequiredIsAvailable) {
  std::optional<std::uint32_t> flags;
  NetworkChecker::setFlagsSource([&] { return flags; });
  for (const auto& c : loadOutcomes("network/data/reachability.outcomes")) {
    std::optional<std::uint32_t> given;
    if (const auto text = c.get("flags")) {
      given = static_cast<std::uint32_t>(std::stoul(*text, nullptr, 0));
    }
    EXPECT_EQ(NetworkChecker::isAvailable(given), c["available"] == "yes") << c.name;
    flags = given;  // read afresh every time
    EXPECT_EQ(NetworkChecker::isNetworkAvailable(), c["available"] == "yes") << c.name;
  }
  NetworkChecker::setFlagsSource(nullptr);
  // Any Linux has routing tables, even a machine with loopback only (which gives 0, not none).
  ASSERT_TRUE(ReachabilityProbe::currentFlags().has_value());
  EXPECT_EQ(NetworkChecker::isNetworkAvailable(), NetworkChecker::isAvailable(ReachabilityProbe::currentFlags()));
}

// "inet 254 2 3" as a family, then numbers.
std::pair<int, std::vector<std::uint32_t>> familyAndNumbers(const std::string& text) {
  std::istringstream in(text);
  std::string family;
  in >> family;
  std::vector<std::uint32_t> numbers;
  for (std::uint32_t number = 0; in >> number;) {
    numbers.push_back(number);
  }
  return {family == "inet6" ? AF_INET6 : AF_INET, numbers};
}

TEST(ReachabilityProbeTest, DefaultRouteOfALookedUpTableThroughAnUpInterfaceIsReachable) {
  using State = ReachabilityProbe::InterfaceState;
  const std::map<std::string, State> states = {
      {"up", State::up}, {"down", State::down}, {"connecting", State::connecting}};
  for (const auto& c : loadOutcomes("network/data/routing.outcomes")) {
    ReachabilityProbe::RoutingState routing;
    for (const auto& route : c.all("route")) {
      const auto [family, numbers] = familyAndNumbers(route);
      routing.defaultRoutes.push_back({family, numbers.at(0), {numbers.begin() + 1, numbers.end()}});
    }
    routing.lookedUpTables = {{{AF_INET, 255}, {AF_INET, 254}, {AF_INET, 253}, {AF_INET6, 255}, {AF_INET6, 254}}};
    for (const auto& table : c.all("tables")) {
      const auto [family, numbers] = familyAndNumbers(table);
      if (table == "unreadable") {
        routing.lookedUpTables.reset();
      } else {
        routing.lookedUpTables->emplace(family, numbers.at(0));
      }
    }
    for (const auto& interface : c.all("interface")) {
      routing.interfaces[std::stoi(interface)] = states.at(interface.substr(interface.find(' ') + 1));
    }
    EXPECT_EQ(ReachabilityProbe::flagsFrom(routing), std::stoul(c["flags"])) << c.name;
  }
}

// The kernel's own tables, read in a network namespace of the test's making.
TEST(ReachabilityProbeDeathTest, ReadsTheKernelsRoutesInEveryTable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto steps = loadOutcomes("network/data/namespace.outcomes");
  std::string expected = "flags:";
  for (const auto& step : steps) {
    expected += " " + step["flags"];
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
          const std::string command = "PATH=/usr/sbin:/sbin:/usr/bin:/bin; " + step["step"];
          if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", step.name.c_str());
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
