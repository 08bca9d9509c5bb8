// tovik: the Tovik location kit on the command line. See docs/tovik.1.

#include <string>

#include <CLI/CLI.hpp>

#include "tools/tovik/command_context.h"
#include "tools/tovik/exit_status.h"
#include "tools/tovik/geofence_command.h"
#include "tools/tovik/locate_command.h"
#include "tools/tovik/output.h"
#include "tools/tovik/service_commands.h"
#include "tools/tovik/transform_commands.h"
#include "tools/tovik/usage_error.h"
#include "tools/tovik/version_command.h"

int main(int argc, char** argv) {
  using namespace tovik::cli;
  Output output;
  CommandContext context{output, {}};

  CLI::App app("tovik: locate this device, watch geofences, query the location service, convert coordinates", "tovik");
  app.require_subcommand(1);
  addLocateCommand(app, context);
  addGeofenceCommand(app, context);
  addServiceCommands(app, context);
  addTransformCommands(app, context);
  addVersionCommand(app, context);

  if (argc > 1 && argv[1][0] != '-' &&
      app.get_subcommands([&](CLI::App* command) { return command->get_name() == argv[1]; }).empty()) {
    output.message(std::string("tovik: unknown command '") + argv[1] + "'");
    output.message("Run with --help for more information.");
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help prints and succeeds; every other reading error is bad usage.
    return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
  }
  const auto* chosen = app.get_subcommands().front();
  try {
    return context.action ? context.action() : kExitUsage;
  } catch (const UsageError& error) {
    output.message("tovik " + chosen->get_name() + ": " + error.what());
    output.message("Run with --help for more information.");
    return kExitUsage;
  }
}
