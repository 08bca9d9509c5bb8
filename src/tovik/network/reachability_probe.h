#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace tovik {

/// Reads the kernel's routing state and reports it as reachability flags: reachable (2)
/// when a default route, IPv4 or IPv6, leaves through an interface that is up; reachable
/// and connection required (2 | 4) when the only such interface is still connecting
/// (dormant, e.g. waiting for authentication); 0 otherwise. No traffic is sent.
class ReachabilityProbe {
 public:
  enum class InterfaceState { up, connecting, down };
  using InterfaceStateReader = std::function<InterfaceState(std::string_view interfaceName)>;

  /// The flags now; none when neither routing table can be read.
  static std::optional<std::uint32_t> currentFlags();

  /// The flags for the given texts of /proc/net/route and /proc/net/ipv6_route (none for
  /// a table that could not be read).
  static std::uint32_t flagsFromRoutes(std::optional<std::string_view> ipv4Routes,
                                       std::optional<std::string_view> ipv6Routes,
                                       const InterfaceStateReader& interfaceState);

  /// From /sys/class/net/<name>/operstate, else the interface flags.
  static InterfaceState interfaceState(std::string_view interfaceName);
};

}  // namespace tovik
