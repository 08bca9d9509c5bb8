#pragma once

namespace CLI {
class App;
}

namespace tovik::cli {

struct CommandContext;

/// The four service calls: `tovik reverse LAT LON`, `tovik geocode ADDRESS CITY`,
/// `tovik poi NAME --city C --city-code X ...` and `tovik nearby KEYWORDS --location LOC
/// --radius R ...`. Each waits for its one answer or error.
void addServiceCommands(CLI::App& app, CommandContext& context);

}  // namespace tovik::cli
