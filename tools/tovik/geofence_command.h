#pragma once

namespace CLI {
class App;
}

namespace tovik::cli {

struct CommandContext;

/// `tovik geofence FENCES [--source SRC] [--count N] [--json] [--log]`: watches the fences of a
/// GeoJSON file on the fixes of a source and prints each event.
void addGeofenceCommand(CLI::App& app, CommandContext& context);

}  // namespace tovik::cli
