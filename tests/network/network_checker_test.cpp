#include <gtest/gtest.h>

#include <sched.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
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
    const auto text = c.get("flags");
    const auto given = text ? std::optional(static_cast<std::uint32_t>(std::stoul(*text, nullptr, 0))) : std::nullopt;
    EXPECT_EQ(NetworkChecker::isAvailable(given), c["available"] == "yes") << c.name;
    flags = given;  // read afresh every time
    EXPECT_EQ(NetworkChecker::isNetworkAvailable(), c["available"] == "yes") << c.name;
  }
  NetworkChecker::setFlagsSource(nullptr);
  // Any Linux has routing tables, even a machine with loopback only (which gives 0, not none).
  ASSERT_TRUE(ReachabilityProbe::currentFlags().has_value());
  EXPECT_EQ(NetworkChecker::isNetworkAvailable(), NetworkChecker::isAvailable(ReachabilityProbe::currentFlags()));
}

// The family "inet" or "inet6" that `text` starts with.
int familyOf(const std::string& text) { return text.starts_with("inet6") ? AF_INET6 : AF_INET; }

TEST(ReachabilityProbeTest, DefaultRouteOfALookedUpTableThroughAnUpInterfaceIsReachable) {
  using State = ReachabilityProbe::InterfaceState;
  const std::map<std::string, State> states = {
      {"up", State::up}, {"down", State::down}, {"connecting", State::connecting}};
  for (const auto& c : loadOutcomes("network/data/routing.outcomes")) {
    ReachabilityProbe::RoutingState routing;
    for (const auto& route : c.all("route")) {  // family, table, next-hop interfaces
      std::istringstream in(route.substr(route.find(' ')));
      const std::vector<std::uint32_t> numbers{std::istream_iterator<std::uint32_t>(in), {}};
      routing.defaultRoutes.push_back({familyOf(route), numbers.at(0), {numbers.begin() + 1, numbers.end()}});
    }
    routing.lookedUpTables = {{{AF_INET, 255}, {AF_INET, 254}, {AF_INET, 253}, {AF_INET6, 255}, {AF_INET6, 254}}};
    for (const auto& table : c.all("tables")) {
      if (table == "unreadable") {
        routing.lookedUpTables.reset();
      } else {
        routing.lookedUpTables->emplace(familyOf(table), std::stoul(table.substr(table.find(' '))));
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
