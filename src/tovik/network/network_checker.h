#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include "tovik/system/export.h"

namespace tovik {

/// Can the device reach the network right now without first setting up a connection?
/// Every call takes a fresh reading of the routing state; no traffic is sent. Any thread.
class TOVIK_API NetworkChecker {
 public:
  /// Flag: a route to the network exists.
  static constexpr std::uint32_t kReachable = 2;
  /// Flag: that route first needs a connection to be set up.
  static constexpr std::uint32_t kConnectionRequired = 4;

  /// Where the reachability flags come from; none when they cannot be read.
  using FlagsSource = std::function<std::optional<std::uint32_t>()>;

  /// Whether the routing state offers a way out now (a default route through an interface
  /// that is up); false when it cannot be read.
  static bool isNetworkAvailable();

  /// True when the flags were read, `kReachable` is set and `kConnectionRequired` is not;
  /// every other bit is ignored.
  static bool isAvailable(std::optional<std::uint32_t> flags);

  /// Replaces where the flags come from, for a host that knows its connectivity better
  /// than the routing table (or runs offline on purpose); null restores the kernel's
  /// routing state. Any thread.
  static void setFlagsSource(FlagsSource source);
};

}  // namespace tovik
