#pragma once

namespace CLI {
class App;
}

namespace tovik::cli {

struct CommandContext;

/// `tovik version`: the kit's version and build number.
void addVersionCommand(CLI::App& app, CommandContext& context);

}  // namespace tovik::cli
