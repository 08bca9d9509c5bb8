#include "tools/tovik/transform_commands.h"

#include <unistd.h>

#include <memory>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tools/tovik/batch_transformer.h"
#include "tools/tovik/command_context.h"
#include "tools/tovik/datum_conversion.h"
#include "tools/tovik/exit_status.h"
#include "tools/tovik/kit_options.h"
#include "tools/tovik/number_arguments.h"
#include "tools/tovik/output.h"
#include "tools/tovik/result_format.h"
#include "tools/tovik/usage_error.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/system/number_text.h"

namespace tovik::cli {
namespace {

struct TransformOptions {
  bool json = false;
  std::string from;
  std::string to;
  std::string latitude;
  std::string longitude;
  std::string region = "rectangle";
};

struct DistanceOptions {
  bool json = false;
  std::string latitude1;
  std::string longitude1;
  std::string latitude2;
  std::string longitude2;
};

int runTransform(const TransformOptions& options, Output& output) {
  const DatumConversion conversion(datumArgument("FROM", options.from), datumArgument("TO", options.to),
                                   options.region == "precise" ? Region::precise : Region::rectangle);
  if (options.latitude.empty() != options.longitude.empty()) {
    throw UsageError("LON: missing (give LAT and LON, or neither to read LAT,LON lines from standard input)");
  }
  if (!options.latitude.empty()) {
    const Coordinate point{.latitude = parseNumber("LAT", options.latitude),
                           .longitude = parseNumber("LON", options.longitude)};
    const Coordinate converted = conversion.convert(point);
    output.result(options.json ? jsonLine({{"latitude", converted.latitude}, {"longitude", converted.longitude}})
                               : coordinateText(converted));
    return kExitSuccess;
  }
  BatchTransformer batch(conversion, options.json);
  if (const auto failure = batch.run(STDIN_FILENO, output)) {
    output.message("tovik transform: " + failure->message);
    return failure->badInput ? kExitUsage : kExitKitError;
  }
  return kExitSuccess;
}

int runDistance(const DistanceOptions& options, Output& output) {
  const Coordinate from{.latitude = parseNumber("LAT1", options.latitude1),
                        .longitude = parseNumber("LON1", options.longitude1)};
  const Coordinate to{.latitude = parseNumber("LAT2", options.latitude2),
                      .longitude = parseNumber("LON2", options.longitude2)};
  const double metres = OrbCoorTransform::distanceByPoint(from, to);
  output.result(options.json ? jsonLine({{"distance", metres}}) : shortestText(metres));
  return kExitSuccess;
}

void addTransform(CLI::App& app, CommandContext& context) {
  auto options = std::make_shared<TransformOptions>();
  CLI::App* command = app.add_subcommand(
      "transform", "Convert a point between WGS-84, GCJ-02 and BD-09; without a point, LAT,LON lines from standard input");
  command->add_option("FROM", options->from, "Datum of the input: wgs84, gcj02 or bd09")->required();
  command->add_option("TO", options->to, "Datum of the output: wgs84, gcj02 or bd09")->required();
  command->add_option("LAT", options->latitude, "Latitude, degrees");
  command->add_option("LON", options->longitude, "Longitude, degrees");
  command
      ->add_option("--region", options->region,
                   "Where WGS-84 and GCJ-02 differ: rectangle (the GCJ-02 rectangle, default) or precise "
                   "(mainland China and its coastal waters)")
      ->check(CLI::IsMember({"rectangle", "precise"}));
  addJsonOption(*command, options->json);
  command->callback([options, &context] {
    context.action = [options, &context] { return runTransform(*options, context.output); };
  });
}

void addDistance(CLI::App& app, CommandContext& context) {
  auto options = std::make_shared<DistanceOptions>();
  CLI::App* command = app.add_subcommand("distance", "Great-circle distance between two points, in metres");
  command->add_option("LAT1", options->latitude1, "Latitude of the first point, degrees")->required();
  command->add_option("LON1", options->longitude1, "Longitude of the first point, degrees")->required();
  command->add_option("LAT2", options->latitude2, "Latitude of the second point, degrees")->required();
  command->add_option("LON2", options->longitude2, "Longitude of the second point, degrees")->required();
  addJsonOption(*command, options->json);
  command->callback([options, &context] {
    context.action = [options, &context] { return runDistance(*options, context.output); };
  });
}

}  // namespace

void addTransformCommands(CLI::App& app, CommandContext& context) {
  addTransform(app, context);
  addDistance(app, context);
}

}  // namespace tovik::cli
