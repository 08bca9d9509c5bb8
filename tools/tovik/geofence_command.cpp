#include "tools/tovik/geofence_command.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/tovik/command_context.h"
#include "tools/tovik/exit_status.h"
#include "tools/tovik/geojson_fences.h"
#include "tools/tovik/interrupt_watch.h"
#include "tools/tovik/kit_host.h"
#include "tools/tovik/kit_options.h"
#include "tools/tovik/location_source.h"
#include "tools/tovik/number_arguments.h"
#include "tools/tovik/output.h"
#include "tools/tovik/result_format.h"
#include "tools/tovik/usage_error.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/geofence/geofence_monitor.h"

namespace tovik::cli {
namespace {

struct GeofenceOptions {
  std::string fences;
  std::string source = "auto";
  std::optional<std::string> count;
  bool json = false;
  bool log = false;
};

/// Prints each event as it arrives, up to `limit` (the events of one fix arrive together), and
/// each error of the source on standard error, and counts both.
class EventPrinter : public GeofenceDelegate {
 public:
  EventPrinter(Output& output, bool json, std::optional<std::int64_t> limit)
      : output_(output), json_(json), limit_(limit) {}

  void onReceivedGeofenceEvent(const GeofenceEvent& event) override {
    if (limit_ && events_ >= *limit_) return;
    ++events_;
    output_.result(json_ ? eventJsonLine(event) : describe(event));
  }
  void onGeofenceSourceError(const Error& error) override {
    ++errors_;
    output_.message(error.localizedDescription());
  }

  std::int64_t events() const { return events_; }
  std::int64_t errors() const { return errors_; }

 private:
  Output& output_;
  const bool json_;
  const std::optional<std::int64_t> limit_;
  std::int64_t events_ = 0;
  std::int64_t errors_ = 0;
};

// The file, or standard input for "-".
std::string fencesText(const std::string& path) {
  if (path == "-") {
    return {std::istreambuf_iterator<char>(std::cin), {}};
  }
  std::ifstream in(path);
  if (!in) {
    throw UsageError("FENCES: cannot read '" + path + "': " + std::strerror(errno));
  }
  return {std::istreambuf_iterator<char>(in), {}};
}

int runGeofence(const GeofenceOptions& options, Output& output) {
  // Every argument is checked before the kit is touched.
  const LocationSource source = parseLocationSource(options.source);
  const std::optional<std::int64_t> count =
      options.count ? std::optional(parseCount("--count", *options.count)) : std::nullopt;
  const auto fences = readGeofences(fencesText(options.fences));

  output.separateKitConsole(options.log);
  TkClientLocation::setIsLogEnabled(options.log);
  declareLocationPurposes();
  const auto printer = std::make_shared<EventPrinter>(output, options.json, count);
  const auto monitor = GeofenceMonitor::create(printer);
  for (const Geofence& fence : fences) monitor->addGeofence(fence);
  const InterruptWatch interrupts;
  monitor->attach(makeProvider(source));
  interrupts.runUntil([&] { return printer->errors() > 0 || (count && printer->events() >= *count); }, std::nullopt);
  // Joins the source's reader, if it has one.
  monitor->detach();
  return printer->errors() > 0 ? kExitKitError : kExitSuccess;
}

}  // namespace

void addGeofenceCommand(CLI::App& app, CommandContext& context) {
  auto options = std::make_shared<GeofenceOptions>();
  CLI::App* command =
      app.add_subcommand("geofence", "Watch the fences of a GeoJSON file on a location source and print each event");
  command->add_option("FENCES", options->fences, "A GeoJSON FeatureCollection of circles and polygons ('-': standard input)")
      ->required();
  command
      ->add_option("--source", options->source,
                   "Where fixes come from: auto, gpsd[:HOST[:PORT]], geoclue, nmea:FILE[@SPEED] or fix:LAT,LON[,ACCURACY]")
      ->type_name("SRC")
      ->capture_default_str();
  command
      ->add_option_function<std::string>(
          "--count", [options](const std::string& count) { options->count = count; }, "Stop after N events")
      ->type_name("N");
  command->add_flag("--log", options->log, "Show the kit's log (on standard error)");
  addJsonOption(*command, options->json);
  command->callback([options, &context] {
    context.action = [options, &context] { return runGeofence(*options, context.output); };
  });
}

}  // namespace tovik::cli
