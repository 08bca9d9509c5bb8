#pragma once

namespace CLI {
class App;
}

namespace tovik::cli {

struct CommandContext;

/// `tovik locate [--once | --fast | --continuous] [--interval S] [--count N] [--source SRC]`:
/// runs a location session and prints each result.
void addLocateCommand(CLI::App& app, CommandContext& context);

}  // namespace tovik::cli
