#pragma once

#include <functional>
#include <string_view>

namespace tovik {

/// Receives each piece of text the kit writes to its console, terminator included, exactly
/// as standard output would have received it. Called from whichever thread logs (the main
/// thread, or a location source's reader), never from two threads at once.
using LogHandler = std::function<void(std::string_view text)>;

}  // namespace tovik
