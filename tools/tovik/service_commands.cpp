#include "tools/tovik/service_commands.h"

#include <cerrno>
#include <chrono>
#include <optional>
#include <system_error>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/tovik/command_context.h"
#include "tools/tovik/datum_conversion.h"
#include "tools/tovik/exit_status.h"
#include "tools/tovik/kit_host.h"
#include "tools/tovik/kit_options.h"
#include "tools/tovik/number_arguments.h"
#include "tools/tovik/usage_error.h"
#include "tools/tovik/output.h"
#include "tools/tovik/point_lines.h"
#include "tools/tovik/reverse_lines.h"
#include "tools/tovik/result_printer.h"
#include "tovik/client/tk_client_location.h"

namespace tovik::cli {
namespace {

// Every request carries a 30 s time-out; the kit reports it before this.
constexpr std::chrono::seconds kAnswerWait{35};

using Call = std::function<void(TkClientLocation&)>;

// Makes one call and waits for its one outcome.
int runCall(const KitOptions& options, Output& output, const Call& call) {
  KitHost host(output, options);
  call(host.facade());
  const ResultPrinter& printer = host.printer();
  const auto ending = host.runUntil([&] { return printer.results() + printer.errors() > 0; }, kAnswerWait);
  if (printer.errors() > 0) {
    return kExitKitError;
  }
  switch (ending) {
    case KitHost::Ending::done:
      return kExitSuccess;
    case KitHost::Ending::interrupted:
      output.message("interrupted");
      return kExitInterrupted;
    case KitHost::Ending::timedOut:
      break;
  }
  output.message("no answer from the service within " + std::to_string(kAnswerWait.count()) + " s");
  return kExitKitError;
}

// Registers a subcommand whose options live as long as the command line is read and run.
template <class Options>
std::shared_ptr<Options> subcommand(CLI::App& app, CommandContext& context, const char* name,
                                    const char* description, CLI::App*& command,
                                    std::function<Call(const Options&)> makeCall) {
  auto options = std::make_shared<Options>();
  command = app.add_subcommand(name, description);
  command->callback([options, &context, makeCall] {
    context.action = [options, &context, makeCall] {
      const Call call = makeCall(*options);  // checks the arguments first
      return runCall(options->kit, context.output, call);
    };
  });
  return options;
}

struct ReverseOptions {
  KitOptions kit;
  std::string latitude;
  std::string longitude;
  std::string datum = "wgs84";
  LineOptions lines;
};

struct GeocodeOptions {
  KitOptions kit;
  std::string address;
  std::string city;
};

struct PoiOptions {
  KitOptions kit;
  std::string name;
  std::string city;
  std::string cityCode;
  std::string pageIndex = "1";
  std::string pageSize = "10";
};

struct NearbyOptions {
  KitOptions kit;
  std::string keywords;
  std::string location;
  std::string radius;
  std::string category;
  std::string orderby;
  std::string pageIndex = "1";
  std::string pageSize = "10";
};

void addPaging(CLI::App& command, std::string& pageIndex, std::string& pageSize) {
  command.add_option("--page-index", pageIndex, "Page to return")->type_name("I")->capture_default_str();
  command.add_option("--page-size", pageSize, "Results per page")->type_name("S")->capture_default_str();
}

void addReverse(CLI::App& app, CommandContext& context) {
  auto options = std::make_shared<ReverseOptions>();
  CLI::App* command = app.add_subcommand(
      "reverse",
      "Reverse geocoding: the address at a point (WGS-84 unless --datum says otherwise); without a point, of every "
      "LAT,LON line of standard input, in input order");
  command->callback([options, &context] {
    context.action = [options, &context]() -> int {
      const ReverseOptions& o = *options;
      const Datum datum = datumArgument("--datum", o.datum);
      if (o.latitude.empty() && o.longitude.empty()) {
        const PointLines lines = o.lines.lines();
        const std::optional<std::string> input = readStandardInput();
        if (!input) {
          context.output.message("tovik reverse: cannot read standard input: " +
                                 std::generic_category().message(errno));
          return kExitKitError;
        }
        return reverseLines(*input, lines, datum, o.kit, context.output);
      }
      if (o.longitude.empty()) {
        throw UsageError("LON is required");
      }
      const Coordinate given{.latitude = parseNumber("LAT", o.latitude), .longitude = parseNumber("LON", o.longitude)};
      // The kit declares the point to the service as GCJ-02.
      const Coordinate gcj = DatumConversion(datum, Datum::gcj02).convert(given);
      return runCall(o.kit, context.output,
                     [gcj](TkClientLocation& facade) { facade.getReverseCode(gcj.latitude, gcj.longitude); });
    };
  });
  command->add_option("LAT", options->latitude, "Latitude, degrees (none: read points from standard input)");
  command->add_option("LON", options->longitude, "Longitude, degrees");
  command->add_option("--datum", options->datum, "Datum of the points: wgs84, gcj02 or bd09")
      ->type_name("D")
      ->capture_default_str();
  addLineOptions(*command, options->lines);
  addKitOptions(*command, options->kit);
}

void addGeocode(CLI::App& app, CommandContext& context) {
  CLI::App* command = nullptr;
  const auto options = subcommand<GeocodeOptions>(
      app, context, "geocode", "Forward geocoding: places matching an address in a city", command,
      [](const GeocodeOptions& o) -> Call {
        return [o](TkClientLocation& facade) { facade.getGeocCode(o.address, o.city); };
      });
  command->add_option("ADDRESS", options->address, "Address text")->required();
  command->add_option("CITY", options->city, "City to search in")->required();
  addKitOptions(*command, options->kit);
}

void addPoi(CLI::App& app, CommandContext& context) {
  CLI::App* command = nullptr;
  const auto options = subcommand<PoiOptions>(
      app, context, "poi", "Keyword place search in a city", command, [](const PoiOptions& o) -> Call {
        const std::int32_t pageIndex = parseInt32("--page-index", o.pageIndex);
        const std::int32_t pageSize = parseInt32("--page-size", o.pageSize);
        return [o, pageIndex, pageSize](TkClientLocation& facade) {
          facade.poiKeySearch(o.name, o.cityCode, o.city, pageIndex, pageSize);
        };
      });
  command->add_option("NAME", options->name, "Place name or keywords")->required();
  command->add_option("--city", options->city, "City name")->type_name("C")->required();
  command->add_option("--city-code", options->cityCode, "City code")->type_name("X")->required();
  addPaging(*command, options->pageIndex, options->pageSize);
  addKitOptions(*command, options->kit);
}

void addNearby(CLI::App& app, CommandContext& context) {
  CLI::App* command = nullptr;
  const auto options = subcommand<NearbyOptions>(
      app, context, "nearby", "Nearby place search around a location", command, [](const NearbyOptions& o) -> Call {
        const std::int32_t radius = parseInt32("--radius", o.radius);
        const std::int32_t pageIndex = parseInt32("--page-index", o.pageIndex);
        const std::int32_t pageSize = parseInt32("--page-size", o.pageSize);
        return [o, radius, pageIndex, pageSize](TkClientLocation& facade) {
          facade.poiNearbySearch(o.keywords, o.location, radius, o.category, o.orderby, pageIndex, pageSize);
        };
      });
  command->add_option("KEYWORDS", options->keywords, "What to look for")->required();
  command
      ->add_option("--location", options->location,
                   "Centre as the service takes it, e.g. \"116.397,39.909\" (LON,LAT in GCJ-02 for tovik-service)")
      ->type_name("LOC")
      ->required();
  command->add_option("--radius", options->radius, "Search radius, metres")->type_name("R")->required();
  command->add_option("--category", options->category, "Category filter (default: none)")->type_name("C");
  command->add_option("--orderby", options->orderby, "Sort order, e.g. distance or relevance (default: the service's)")
      ->type_name("O");
  addPaging(*command, options->pageIndex, options->pageSize);
  addKitOptions(*command, options->kit);
}

}  // namespace

void addServiceCommands(CLI::App& app, CommandContext& context) {
  addReverse(app, context);
  addGeocode(app, context);
  addPoi(app, context);
  addNearby(app, context);
}

}  // namespace tovik::cli
