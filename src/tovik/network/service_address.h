#pragma once

#include <optional>
#include <string_view>

namespace tovik {

/// Why `url` cannot be the location service's base address, as a sentence to show, or none
/// when it can: it must be absolute, https (plain http only to a loopback host, since the
/// query carries the access key), name a host, and carry no query or fragment (the kit adds
/// its own query to every path).
std::optional<std::string_view> serviceAddressProblem(std::string_view url);

}  // namespace tovik
