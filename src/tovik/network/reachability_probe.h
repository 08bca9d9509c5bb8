#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace tovik {

/// Reads the kernel's routing state through rtnetlink and reports it as reachability flags:
/// reachable (2) when a default route, IPv4 or IPv6, in a routing table that a routing rule
/// looks up, leaves through an interface that is up; reachable and connection required
/// (2 | 4) when the only such interface is still connecting (dormant, e.g. waiting for
/// authentication); 0 otherwise. No traffic is sent.
class ReachabilityProbe {
 public:
  enum class InterfaceState { up, connecting, down };

  /// What of the routing state decides reachability.
  struct RoutingState {
    /// A unicast route to everywhere (prefix length 0).
    struct DefaultRoute {
      int family = 0;  // AF_INET or AF_INET6
      std::uint32_t table = 0;
      /// The interface indexes it may leave through (several for a multipath route).
      std::vector<int> interfaces;
    };
    std::vector<DefaultRoute> defaultRoutes;
    /// (family, table) pairs that some rule looks up for ordinary traffic; none when the
    /// rules could not be read (a kernel without policy routing), and then every table counts.
    std::optional<std::set<std::pair<int, std::uint32_t>>> lookedUpTables;
    /// By interface index; loopback interfaces are left out.
    std::map<int, InterfaceState> interfaces;
  };

  /// The flags now; none when the routes cannot be read.
  static std::optional<std::uint32_t> currentFlags();

  /// The kernel's routing state now (links, routes of every table, rules, next-hop
  /// objects); none when rtnetlink cannot be read.
  static std::optional<RoutingState> readRoutingState();

  static std::uint32_t flagsFrom(const RoutingState& state);
};

}  // namespace tovik
