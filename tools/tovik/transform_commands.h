#pragma once

namespace CLI {
class App;
}

namespace tovik::cli {

struct CommandContext;

/// `tovik transform FROM TO [LAT LON]` (one point, or LAT,LON lines from standard input)
/// and `tovik distance LAT1 LON1 LAT2 LON2`.
void addTransformCommands(CLI::App& app, CommandContext& context);

}  // namespace tovik::cli
