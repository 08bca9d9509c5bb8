#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tovik {

/// Settings of the network client's session, given before its first use
/// (`NetworkClient::configure`). Certificate checks are always on; there is no way to turn
/// them off.
struct SessionConfiguration {
  /// PEM file of the certificate authorities to trust instead of the system's store.
  std::optional<std::string> caFile;
  /// Longest time to set up a connection; none leaves it to the request's own time-out.
  std::optional<std::chrono::milliseconds> connectTimeout;
  /// Largest answer body accepted; a longer answer is cut off and handled as one without
  /// data (status outside 200 to 299: the status error; otherwise `decodingFailed`).
  std::size_t maximumBodySize = 16 * 1024 * 1024;
  /// Open connections to one host at most; further requests wait for a free one.
  long maximumConnectionsPerHost = 16;
};

}  // namespace tovik
