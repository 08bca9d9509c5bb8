#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace tovik {

/// Seconds a `Retry-After` value asks the client to wait, measured from `now`: a number of
/// seconds or an HTTP date (a date in the past waits 0). None for anything else.
std::optional<double> retryAfterSeconds(std::string_view value, std::chrono::system_clock::time_point now);

}  // namespace tovik
