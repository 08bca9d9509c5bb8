#include "tools/tovik/locate_command.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/tovik/command_context.h"
#include "tools/tovik/exit_status.h"
#include "tools/tovik/kit_host.h"
#include "tools/tovik/kit_options.h"
#include "tools/tovik/number_arguments.h"
#include "tools/tovik/output.h"
#include "tools/tovik/result_printer.h"
#include "tools/tovik/location_source.h"
#include "tovik/client/tk_client_location.h"

namespace tovik::cli {
namespace {

// A single fix may take the location manager's 15 s and the service call its 30 s.
constexpr std::chrono::seconds kSingleResultWait{60};

struct LocateOptions {
  KitOptions kit;
  bool once = false;
  bool fast = false;
  bool continuous = false;
  std::string interval = "1";
  std::optional<std::string> count;
  std::string source = "auto";
};

int runLocate(const LocateOptions& options, Output& output) {
  // Every argument is checked before the kit is touched.
  const LocationSource source = parseLocationSource(options.source);
  const double interval = parseNumber("--interval", options.interval);
  const std::optional<std::int64_t> count =
      options.count ? std::optional(parseCount("--count", *options.count)) : std::nullopt;

  KitHost host(output, options.kit, makeProvider(source));
  TkClientLocation& facade = host.facade();
  if (options.continuous) {
    facade.isLocateOnce = false;
    facade.interval = interval;
    facade.startLocation();
  } else if (options.fast) {
    facade.startFastLocation();
  } else {
    facade.startLocation();
  }

  const ResultPrinter& printer = host.printer();
  const std::optional<std::int64_t> wanted = options.continuous ? count : std::optional<std::int64_t>(1);
  const auto ending = host.runUntil(
      [&] { return printer.errors() > 0 || (wanted && printer.results() >= *wanted); },
      options.continuous ? std::nullopt : std::optional(kSingleResultWait));
  if (printer.errors() > 0) {
    return kExitKitError;
  }
  switch (ending) {
    case KitHost::Ending::done:
      return kExitSuccess;
    case KitHost::Ending::interrupted:
      if (options.continuous) {
        return kExitSuccess;  // Ctrl-C is how an open-ended session ends
      }
      output.message("interrupted");
      return kExitInterrupted;
    case KitHost::Ending::timedOut:
      break;
  }
  output.message("no location result within " + std::to_string(kSingleResultWait.count()) + " s");
  return kExitKitError;
}

}  // namespace

void addLocateCommand(CLI::App& app, CommandContext& context) {
  auto options = std::make_shared<LocateOptions>();
  CLI::App* command = app.add_subcommand("locate", "Run a location session and print each result");
  CLI::Option* once = command->add_flag("--once", options->once, "One fix (the default)");
  command->add_flag("--fixes", options->kit.fixes,
                    "Also print each fix the source gives, before its result (--json: {\"fix\": ...})");
  CLI::Option* fast = command->add_flag("--fast", options->fast, "One fix, the best of a 0.2 s window");
  CLI::Option* continuous =
      command->add_flag("--continuous", options->continuous, "A result per interval until --count or Ctrl-C");
  once->excludes(fast)->excludes(continuous);
  fast->excludes(continuous);
  command->add_option("--interval", options->interval, "Seconds between results of a continuous session")
      ->type_name("S")
      ->capture_default_str()
      ->needs(continuous);
  command
      ->add_option_function<std::string>(
          "--count", [options](const std::string& count) { options->count = count; },
          "Stop a continuous session after N results")
      ->type_name("N")
      ->needs(continuous);
  command
      ->add_option("--source", options->source,
                   "Where fixes come from: auto, gpsd[:HOST[:PORT]], geoclue, nmea:FILE[@SPEED] or fix:LAT,LON[,ACCURACY]")
      ->type_name("SRC")
      ->capture_default_str();
  addKitOptions(*command, options->kit);
  command->callback([options, &context] {
    context.action = [options, &context] { return runLocate(*options, context.output); };
  });
}

}  // namespace tovik::cli
